// Save and Load of network tree files (.brk) from the window: the file question, the folder
// used last, and the error boxes.
//
// Thread rules: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "app/backend/window_backend.h"

class QWidget;

namespace vuv::app {

class FileChooser;

class TreeFiles : public QObject {
  Q_OBJECT

 public:
  // `window` parents the dialogs; `backend` must outlive this.
  TreeFiles(WindowBackend& backend, QWidget* window);

  // Asks for the files; must outlive this.
  void setFileChooser(FileChooser& chooser) { chooser_ = &chooser; }

  // Asks for a file and loads it; true when the tree was replaced.
  bool chooseAndLoad();
  // Loads `path` into the backend; a refusal comes through the backend's `error`.
  bool load(const QString& path);
  // Asks for a file and saves the tree there. Allowed while a discovery runs: the file holds
  // the nodes present when the walk passed them.
  void chooseAndSave();

 private:
  std::optional<QString> choose(bool save);

  WindowBackend& backend_;
  QWidget* window_;
  FileChooser* chooser_ = nullptr;
  QString folder_;  // the folder Save or Load used last; home at start
};

}  // namespace vuv::app
