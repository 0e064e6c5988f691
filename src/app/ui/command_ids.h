// The main window's commands: one QAction each, shared by the menu bar, the toolbar and the
// popup menus. Each action carries its id as data() and its table name as objectName(), the
// names by which tests and accessibility tools find it.
#pragma once

namespace vuv::app {

enum class CommandId : int {
  Search,      // the Search/Stop button and Enter
  LoadTree,
  SaveTree,
  Exit,
  Discover,
  AddDomain,
  UseIndex,    // checkable: searches show and keep the index of names
  LogOn,       // tree popup: a server that refused guests
  OpenFile,    // result popup
  OpenFolder,
  CopyFile,
  CopyPath,    // Ctrl+C in the result list
  About,
};

}  // namespace vuv::app
