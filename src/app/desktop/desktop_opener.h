// What the window asks of the desktop: opening network and local items with their default
// programs and showing an item in the file manager. One seam, so tests record the calls instead
// of starting programs.
//
// Thread rules: GUI thread only. No member waits long: programs are started detached and the
// file manager is asked without waiting for its answer.
#pragma once

#include <QString>
#include <functional>

namespace vuv::app {

class DesktopOpener {
 public:
  virtual ~DesktopOpener() = default;

  // Whether some program on this desktop opens smb:// URLs. Asked once; the answer holds for
  // the session.
  virtual bool canOpenSmbUrls() = 0;

  // Opens `url` (smb://...) with the desktop's default program for it. False when no program
  // could be started.
  virtual bool openUrl(const QString& url) = 0;

  // Opens the local file or folder at the absolute path `path` with its default program.
  virtual bool openLocalFile(const QString& path) = 0;

  // Shows the item at `url` in the desktop's file manager, selected. When no file manager takes
  // it, `fallback` runs instead: maybe before this returns, maybe later on the GUI thread.
  virtual void showItem(const QString& url, std::function<void()> fallback) = 0;
};

}  // namespace vuv::app
