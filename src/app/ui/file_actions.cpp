#include "app/ui/file_actions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/desktop/xdg_desktop.h"
#include "app/ui/copy_progress_dlg.h"
#include "app/ui/file_chooser.h"
#include "app/ui/notice.h"
#include "app/ui/texts.h"
#include "base/error.h"

namespace vuv::app {
namespace {

// The last component of a UNC path: the name a copy gets.
QString itemName(const std::string& unc) {
  const std::size_t slash = unc.rfind('\\');
  return QString::fromStdString(slash == std::string::npos ? unc : unc.substr(slash + 1));
}

// Where a copy goes when none went anywhere yet this session.
QString defaultCopyFolder() {
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  return !downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

}  // namespace

FileActions::FileActions(WindowBackend& backend, QWidget* window)
    : QObject(window), backend_(backend), window_(window) {}

FileActions::~FileActions() = default;

DesktopOpener& FileActions::desktop() {
  if (desktop_ == nullptr) {
    ownDesktop_ = std::make_unique<XdgDesktop>();
    desktop_ = ownDesktop_.get();
  }
  return *desktop_;
}

void FileActions::error(const QString& message) { showError(window_, message); }

bool FileActions::busy() {
  if (copyDialog_ == nullptr) return false;
  copyDialog_->raise();  // one copy at a time
  return true;
}

void FileActions::openFile(const ResultRow& row) {
  const Result<std::string> url = backend_.desktopUrl(row.path);
  if (!url) {
    error(QString::fromStdString(describe(url.error())));
    return;
  }
  if (desktop().canOpenSmbUrls()) {
    openUrlOrSay(QString::fromStdString(*url));
    return;
  }
  // Nothing here reads from smb:// itself: open a local copy instead. A whole folder could be
  // any size, so that one is left to Copy file.
  if (row.isFolder) {
    showInformation(window_, text::kNoSmbFolderHandler);
    return;
  }
  if (busy()) return;
  const QString folder = openCopyFolder();
  if (!folder.isEmpty()) startCopy(row, folder, false, Purpose::Open);
}

void FileActions::openFolder(const ResultRow& row) {
  const std::size_t slash = row.path.rfind('\\');
  if (slash == std::string::npos || slash == 0) return;
  const Result<std::string> itemUrl = backend_.desktopUrl(row.path);
  if (!itemUrl) {
    error(QString::fromStdString(describe(itemUrl.error())));
    return;
  }
  const Result<std::string> folderUrl = backend_.desktopUrl(row.path.substr(0, slash));
  if (!folderUrl) return;  // the item is a server: it has no folder
  desktop().showItem(QString::fromStdString(*itemUrl),
                     [self = QPointer<FileActions>(this), url = QString::fromStdString(*folderUrl)] {
                       if (self) self->openUrlOrSay(url);
                     });
}

void FileActions::openUrlOrSay(const QString& url) {
  if (!desktop().openUrl(url)) error(QString(text::kCannotOpen).arg(url));
}

void FileActions::copyFile(const ResultRow& row) {
  if (busy()) return;
  FileRequest request;
  request.mode = FileRequest::Mode::Folder;
  request.caption = text::kChooseFolderCaption;
  request.folder = lastCopyFolder_.isEmpty() ? defaultCopyFolder() : lastCopyFolder_;
  const std::optional<QString> chosen = chooser_->choose(window_, request);
  if (!chosen || chosen->isEmpty()) return;
  const QString folder = *chosen;
  lastCopyFolder_ = folder;
  const QString name = itemName(row.path);
  const QFileInfo target(QDir(folder).filePath(name));
  const bool exists = target.exists() || target.isSymLink();  // also a dangling link
  if (exists) {
    // The person's own command asks: a modal question is in order here.
    QMessageBox question(QMessageBox::Question, text::kAppName,
                         QString(text::kReplaceQuestion).arg(name, QDir::toNativeSeparators(folder)),
                         QMessageBox::Yes | QMessageBox::No, window_);
    question.setTextFormat(Qt::PlainText);  // the name comes from a server
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) return;
  }
  startCopy(row, folder, exists, Purpose::Keep);
}

QString FileActions::openCopyFolder() {
  if (openCopies_ == nullptr) {
    // Not removed at exit: a document opened from it may still be open in its program. The
    // system's temporary-file cleaning removes it; only this user may read it meanwhile.
    auto made = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vuvuveva-open-XXXXXX");
    if (!made->isValid()) {
      error(QString(text::kNoTempFolder).arg(made->errorString()));
      return {};
    }
    made->setAutoRemove(false);
    openCopies_ = std::move(made);
  }
  const QString name = QString::number(++openCopyCount_);
  QDir base(openCopies_->path());
  if (!base.mkdir(name)) {
    error(QString(text::kNoTempFolder).arg(base.filePath(name)));
    return {};
  }
  return base.filePath(name);
}

void FileActions::startCopy(const ResultRow& row, const QString& folder, bool replace, Purpose purpose) {
  // A refusal comes as the backend's error event.
  if (!backend_.startCopy(row.path, row.isFolder, QFile::encodeName(folder).toStdString(), replace)) return;
  purpose_ = purpose;
  copyDialog_ = new CopyProgressDlg(purpose == Purpose::Open ? text::kOpenCopyCaption : text::kCopyCaption,
                                    QString::fromStdString(row.path), window_);
  connect(copyDialog_, &CopyProgressDlg::cancelRequested, this, [this] { backend_.stopCopy(); });
  copyDialog_->show();
}

void FileActions::copyProgress(const CopyProgress& progress) {
  if (copyDialog_ != nullptr) copyDialog_->setProgress(progress);
}

void FileActions::copyFinished(const CopyOutcome& outcome) {
  delete copyDialog_;
  copyDialog_ = nullptr;
  if (outcome.cancelled) return;
  if (outcome.error) {
    error(QString::fromStdString(*outcome.error));
    return;
  }
  const QString destination = QFile::decodeName(QByteArray::fromStdString(outcome.destination));
  if (purpose_ == Purpose::Open) {
    if (!desktop().openLocalFile(destination)) error(QString(text::kCannotOpen).arg(destination));
    return;
  }
  emit status(QString(text::kCopiedTo).arg(destination));
}

void FileActions::closing() {
  delete copyDialog_;
  copyDialog_ = nullptr;
}

}  // namespace vuv::app
