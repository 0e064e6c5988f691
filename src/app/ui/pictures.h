// The window's pictures: the desktop theme's icon where one means the same thing, else our own
// artwork (SVG, compiled in). Call on the GUI thread after the QApplication exists.
#pragma once

#include <QIcon>

#include "results/result_icon.h"
#include "tree/network_tree.h"

namespace vuv::app {

enum class Picture {
  OpenTree,     // opening folder with an arrow
  SaveTree,     // floppy disk
  Discover,     // globe
  AddDomain,    // linked computers with a red plus
  OpenFolder,   // shared folder with an arrow
  CopyFile,     // network drive with a page
  About,        // blue question mark
  OpenFile,     // popup: opening folder with an arrow
  OpenFolderItem,  // popup: shared folder with an arrow
  CopyFileItem,    // popup: floppy disk
  AppIcon,
};

QIcon picture(Picture which);
QIcon nodeIcon(NodeKind kind);
QIcon resultIcon(ResultIcon icon);

}  // namespace vuv::app
