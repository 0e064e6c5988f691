// How the window asks the user for a file to save to or open, or for a folder. The window
// calls a FileChooser; DialogFileChooser runs Qt's own file dialog (the same on every desktop
// and readable by accessibility tools, which a desktop's native one may not be); tests put a
// recorder in its place.
//
// Thread rules: GUI thread only; choose() runs a modal dialog (a nested event loop).
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace vuv::app {

struct FileRequest {
  enum class Mode { Open, Save, Folder };
  Mode mode = Mode::Open;
  QString caption;
  QString folder;         // where the dialog starts; no file name is proposed
  QString filter;         // files only: one filter, e.g. "Network tree files(*.brk)"
  QString defaultSuffix;  // files only: added when the user types a name without one
  // Save only: the user confirms before an existing file is replaced.
  bool confirmOverwrite = true;
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen file's or folder's path, or nullopt when the user cancelled.
  virtual std::optional<QString> choose(QWidget* parent, const FileRequest& request) = 0;
};

// Qt's file dialog, modal to `parent`.
class DialogFileChooser final : public FileChooser {
 public:
  std::optional<QString> choose(QWidget* parent, const FileRequest& request) override;
};

}  // namespace vuv::app
