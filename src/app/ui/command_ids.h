// Command identifiers of the main window: menu items, toolbar buttons, popup items, the Search
// button and the commands without a control. The numbers are the window's public command
// vocabulary (tests and accessibility tools name commands by them), hence fixed values.
#pragma once

namespace vuv::app {

enum CommandId : int {
  IDOK = 1,      // the Enter key
  IDCANCEL = 2,  // the Esc key

  // Toolbar buttons.
  ID_TB_OPEN_FOLDER = 139,
  ID_TB_ADD_DOMAIN = 142,
  ID_TB_DISCOVER = 143,
  ID_TB_COPY_FILE = 152,
  ID_TB_LOAD_TREE = 159,
  ID_TB_SAVE_TREE = 160,
  ID_TB_ABOUT = 161,

  // Dialog items that send commands, and the ones that have no control.
  IDC_SEARCH = 1001,
  IDC_EXIT = 1002,
  IDC_DISCOVER = 1004,
  IDC_ADD_DOMAIN = 1008,
  IDC_OPEN_FOLDER = 1013,
  IDC_NETWORK_TREE = 1015,  // the "Network tree" title button: no command attached

  // Menu bar.
  ID_FILE_LOAD_TREE = 32771,
  ID_FILE_SAVE_TREE = 32772,
  ID_FILE_EXIT = 32773,
  ID_HELP_ABOUT = 32774,
  ID_NETWORK_DISCOVER = 32779,
  ID_NETWORK_ADD_DOMAIN = 32780,
  ID_NETWORK_OPEN_FOLDER = 32781,
  ID_NETWORK_SAVE_FILE = 32782,

  // Result popup "files".
  ID_POPUP_OPEN_FILE = 32783,
  ID_POPUP_OPEN_FOLDER = 32784,
  ID_POPUP_COPY_FILE = 32785,
};

}  // namespace vuv::app
