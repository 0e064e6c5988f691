// How the window asks the user for a file to save to or open, or for a folder. The window
// calls a FileChooser; DialogFileChooser runs the file dialog; tests put a recorder in its
// place.
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

// The desktop's own file dialog where the platform theme offers one (a GTK or KDE desktop, the
// desktop portal), else Qt's own (as under a bare X server, where accessibility tools read it):
// QFileDialog's own choice, left to the theme.
class DialogFileChooser final : public FileChooser {
 public:
  std::optional<QString> choose(QWidget* parent, const FileRequest& request) override;
};

}  // namespace vuv::app
