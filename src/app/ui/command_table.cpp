#include "app/ui/command_table.h"

#include <algorithm>
#include <array>

#include "app/ui/command_ids.h"
#include "app/ui/main_dlg.h"

namespace vuv::app {
namespace {

// Source                                                   id                      handler
constexpr std::array kCommands{
    CommandRoute{IDC_SEARCH, &CMainDlg::OnSearch},              // Search/Stop button
    CommandRoute{IDOK, &CMainDlg::OnOK},                        // Enter
    CommandRoute{IDCANCEL, &CMainDlg::OnCancel},                // Esc
    CommandRoute{ID_FILE_LOAD_TREE, &CMainDlg::OnLoadTree},     // File > Load network tree...
    CommandRoute{ID_TB_LOAD_TREE, &CMainDlg::OnLoadTree},       // toolbar
    CommandRoute{ID_FILE_SAVE_TREE, &CMainDlg::OnSaveTree},     // File > Save network tree...
    CommandRoute{ID_TB_SAVE_TREE, &CMainDlg::OnSaveTree},       // toolbar
    CommandRoute{ID_FILE_EXIT, &CMainDlg::OnExit},              // File > Exit
    CommandRoute{ID_NETWORK_DISCOVER, &CMainDlg::OnDiscoverNetwork},  // Network > Discover
    CommandRoute{ID_TB_DISCOVER, &CMainDlg::OnDiscoverNetwork},       // toolbar
    CommandRoute{ID_NETWORK_ADD_DOMAIN, &CMainDlg::OnAddDomain},      // Network > Add domain
    CommandRoute{ID_TB_ADD_DOMAIN, &CMainDlg::OnAddDomain},           // toolbar
    CommandRoute{ID_NETWORK_OPEN_FOLDER, &CMainDlg::OnOpenFolder},    // Network > Open file in
    CommandRoute{ID_POPUP_OPEN_FOLDER, &CMainDlg::OnOpenFolder},      // popup Open folder
    CommandRoute{ID_TB_OPEN_FOLDER, &CMainDlg::OnOpenFolder},         // toolbar
    CommandRoute{ID_NETWORK_SAVE_FILE, &CMainDlg::OnCopyFile},        // Network > Save file
    CommandRoute{ID_POPUP_COPY_FILE, &CMainDlg::OnCopyFile},          // popup Copy file
    CommandRoute{ID_TB_COPY_FILE, &CMainDlg::OnCopyFile},             // toolbar
    CommandRoute{ID_POPUP_OPEN_FILE, &CMainDlg::OnOpenFile},          // popup Open file
    CommandRoute{ID_HELP_ABOUT, &CMainDlg::OnAbout},                  // Help > About...
    CommandRoute{ID_TB_ABOUT, &CMainDlg::OnAbout},                    // toolbar
    CommandRoute{IDC_EXIT, &CMainDlg::OnExit},                        // no control
    CommandRoute{IDC_DISCOVER, &CMainDlg::OnDiscoverNetwork},         // no control
    CommandRoute{IDC_ADD_DOMAIN, &CMainDlg::OnAddDomain},             // no control
    CommandRoute{IDC_OPEN_FOLDER, &CMainDlg::OnOpenFolder},           // no control
};

}  // namespace

std::span<const CommandRoute> commandTable() { return kCommands; }

const CommandRoute* findCommand(int id) {
  const auto it = std::ranges::find(kCommands, id, &CommandRoute::id);
  return it == kCommands.end() ? nullptr : &*it;
}

}  // namespace vuv::app
