// The one table that routes every command of the main window to its handler. Menus, toolbar,
// popup, buttons and keys all arrive at CMainDlg::OnCommand(id), which looks the id up here;
// an id without a row (the "Network tree" button) does nothing. Immutable; thread-safe.
#pragma once

#include <span>

namespace vuv::app {

class CMainDlg;

struct CommandRoute {
  int id;
  void (CMainDlg::*handler)();
};

std::span<const CommandRoute> commandTable();

// The row for `id`, or nullptr when no handler takes it.
const CommandRoute* findCommand(int id);

}  // namespace vuv::app
