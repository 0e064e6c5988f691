// Asks the user for a local folder. A seam: the window asks through it, tests answer for the
// user. The default is Qt's own folder dialog, the same on every desktop and readable by
// accessibility tools (a desktop's native dialog may be neither).
//
// Thread rules: GUI thread only; chooseFolder() runs a modal dialog.
#pragma once

#include <QString>

class QWidget;

namespace vuv::app {

class FolderChooser {
 public:
  virtual ~FolderChooser() = default;

  // The folder picked, starting in `start`; empty when the user cancelled.
  virtual QString chooseFolder(QWidget* parent, const QString& caption, const QString& start) = 0;
};

class DialogFolderChooser : public FolderChooser {
 public:
  QString chooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
};

}  // namespace vuv::app
