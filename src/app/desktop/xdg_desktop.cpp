#include "app/desktop/xdg_desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <utility>

namespace vuv::app {
namespace {

// xdg-mime is a shell script: a few hundred milliseconds on a busy machine. Longer than this
// and the answer is taken as "nothing".
constexpr int kQueryWaitMs = 2000;
// A file manager that D-Bus has to start first may take a while to answer.
constexpr int kShowItemsTimeoutMs = 10000;

constexpr char kFileManagerService[] = "org.freedesktop.FileManager1";
constexpr char kFileManagerPath[] = "/org/freedesktop/FileManager1";
constexpr char kFileManagerInterface[] = "org.freedesktop.FileManager1";

bool startOpener(const QString& argument) {
  return QProcess::startDetached(QStringLiteral("xdg-open"), {argument});
}

}  // namespace

XdgDesktop::XdgDesktop(QObject* parent) : QObject(parent) {
  m_query.setStandardErrorFile(QProcess::nullDevice());
  m_query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("x-scheme-handler/smb")},
                QIODevice::ReadOnly);
}

XdgDesktop::~XdgDesktop() {
  if (m_query.state() != QProcess::NotRunning) {
    m_query.kill();
    m_query.waitForFinished(100);
  }
}

bool XdgDesktop::canOpenSmbUrls() {
  if (m_smbHandler) return *m_smbHandler;
  if (m_query.state() != QProcess::NotRunning && !m_query.waitForFinished(kQueryWaitMs)) {
    m_query.kill();
    m_query.waitForFinished(100);
    m_smbHandler = false;
    return false;
  }
  // A failed start leaves no output; a handler's name is one line such as "x.desktop".
  m_smbHandler = m_query.exitStatus() == QProcess::NormalExit && m_query.exitCode() == 0 &&
                 !m_query.readAllStandardOutput().trimmed().isEmpty();
  return *m_smbHandler;
}

bool XdgDesktop::openUrl(const QString& url) { return startOpener(url); }

bool XdgDesktop::openLocalFile(const QString& path) { return startOpener(path); }

void XdgDesktop::showItem(const QString& url, std::function<void()> fallback) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    fallback();
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath,
                                                     kFileManagerInterface,
                                                     QStringLiteral("ShowItems"));
  call << QStringList{url} << QString();  // no startup id
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [fallback = std::move(fallback)](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (finished->isError()) fallback();
          });
}

}  // namespace vuv::app
