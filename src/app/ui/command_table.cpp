#include "app/ui/command_table.h"

#include <array>

#include "app/ui/main_dlg.h"
#include "app/ui/texts.h"

namespace vuv::app {

// A friend of CMainDlg: the handlers are the window's private members.
std::span<const CommandSpec> commandTable() {
  using enum CommandId;
  using Key = QKeySequence::StandardKey;
  using W = CMainDlg;
  static const std::array kCommands{
      // id         name            caption                    tooltip              picture               shortcut         handler
      CommandSpec{Search, "search", text::kSearchButton, text::kSearchTip, Picture::None, Key::UnknownKey, &W::onSearch},
      CommandSpec{LoadTree, "loadTree", text::kLoadTreeItem, text::kOpenTreeTip, Picture::OpenTree, Key::UnknownKey, &W::onLoadTree},
      CommandSpec{SaveTree, "saveTree", text::kSaveTreeItem, text::kSaveTreeTip, Picture::SaveTree, Key::UnknownKey, &W::onSaveTree},
      CommandSpec{Exit, "exit", text::kExitItem, nullptr, Picture::None, Key::UnknownKey, &W::onExit},
      CommandSpec{Discover, "discover", text::kDiscoverItem, text::kDiscoverTip, Picture::Discover, Key::UnknownKey, &W::onDiscover},
      CommandSpec{AddDomain, "addDomain", text::kAddDomainItem, text::kAddDomainTip, Picture::AddDomain, Key::UnknownKey, &W::onAddDomain},
      CommandSpec{LogOn, "logOn", text::kLogOnItem, nullptr, Picture::None, Key::UnknownKey, &W::onLogOn},
      CommandSpec{OpenFile, "openFile", text::kOpenFileItem, nullptr, Picture::OpenFile, Key::UnknownKey, &W::onOpenFile},
      CommandSpec{OpenFolder, "openFolder", text::kOpenInExplorerItem, text::kOpenFolderTip, Picture::OpenFolder, Key::UnknownKey, &W::onOpenFolder},
      CommandSpec{CopyFile, "copyFile", text::kSaveFileItem, text::kCopyFileTip, Picture::CopyFile, Key::UnknownKey, &W::onCopyFile},
      CommandSpec{CopyPath, "copyPath", text::kCopyPathItem, nullptr, Picture::None, Key::Copy, &W::onCopyPath},
      CommandSpec{About, "about", text::kAboutItem, text::kAboutTip, Picture::About, Key::UnknownKey, &W::onAbout},
  };
  return kCommands;
}

}  // namespace vuv::app
