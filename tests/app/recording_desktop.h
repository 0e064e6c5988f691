// Stand-ins for the desktop and the folder dialog that record what the window asks.
#pragma once

#include <QStringList>

#include "app/desktop/desktop_opener.h"
#include "app/ui/file_chooser.h"

namespace vuv::app::test {

class RecordingDesktop : public DesktopOpener {
 public:
  bool canOpenSmbUrls() override { return smbHandler; }
  bool openUrl(const QString& url) override {
    calls << "openUrl " + url;
    return opens;
  }
  bool openLocalFile(const QString& path) override {
    calls << "openLocalFile " + path;
    return opens;
  }
  void showItem(const QString& url, std::function<void()> fallback) override {
    calls << "showItem " + url;
    if (!fileManager) fallback();
  }

  bool smbHandler = true;   // something opens smb:// URLs
  bool fileManager = true;  // a file manager takes ShowItems
  bool opens = true;        // programs start
  QStringList calls;
};

class RecordingChooser : public FileChooser {
 public:
  std::optional<QString> choose(QWidget*, const FileRequest& request) override {
    if (request.mode != FileRequest::Mode::Folder) return std::nullopt;
    starts << request.folder;
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }

  QString answer;  // empty: the user cancels
  QStringList starts;
};

}  // namespace vuv::app::test
