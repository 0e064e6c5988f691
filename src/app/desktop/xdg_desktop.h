// The desktop through the freedesktop tools: `xdg-mime` tells whether anything opens smb://
// URLs, `xdg-open` opens URLs and files, and the file manager's D-Bus interface
// (org.freedesktop.FileManager1) shows an item selected. Programs are found on PATH and started
// with their arguments as a list, never through a shell.
//
// Thread rules: GUI thread only. The xdg-mime query starts with the object and runs alongside;
// canOpenSmbUrls() waits for it at most briefly, once.
#pragma once

#include <QObject>
#include <QProcess>
#include <optional>

#include "app/desktop/desktop_opener.h"

namespace vuv::app {

class XdgDesktop : public QObject, public DesktopOpener {
  Q_OBJECT

 public:
  explicit XdgDesktop(QObject* parent = nullptr);
  ~XdgDesktop() override;

  bool canOpenSmbUrls() override;
  bool openUrl(const QString& url) override;
  bool openLocalFile(const QString& path) override;
  void showItem(const QString& url, std::function<void()> fallback) override;

 private:
  QProcess m_query;                  // xdg-mime query default x-scheme-handler/smb
  std::optional<bool> m_smbHandler;  // its answer, once known
};

}  // namespace vuv::app
