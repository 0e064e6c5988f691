// The table of the main window's commands: what each action is called, shows and does. The
// window makes one QAction per row and places it in its menus, toolbar and popups; a row
// added here (and placed in the window's layout) is a new command. Immutable; thread-safe.
#pragma once

#include <QKeySequence>
#include <span>

#include "app/ui/command_ids.h"
#include "app/ui/pictures.h"

namespace vuv::app {

class CMainDlg;

struct CommandSpec {
  CommandId id;
  const char* name;     // the action's objectName
  const char* caption;  // menu and popup text
  const char* tooltip;  // toolbar tooltip; nullptr: the caption
  Picture picture;      // Picture::None: no picture
  QKeySequence::StandardKey shortcut;  // UnknownKey: none
  bool checkable;       // on or off; the handler reads the action's state
  void (CMainDlg::*handler)();
};

std::span<const CommandSpec> commandTable();

}  // namespace vuv::app
