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
  OpenFile,     // opening folder with an arrow
  AppIcon,
  None,         // a command without a picture
};

QIcon picture(Picture which);
// `needsLogon`: a server that refused guests, with a padlock over its picture.
QIcon nodeIcon(NodeKind kind, bool needsLogon = false);
QIcon resultIcon(ResultIcon icon);

}  // namespace vuv::app
