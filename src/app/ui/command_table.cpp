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
      // id         name            caption                    tooltip              picture               shortcut    checkable     handler
      CommandSpec{Search, "search", text::kSearchButton, text::kSearchTip, Picture::None, Key::UnknownKey, false, &W::onSearch},
      CommandSpec{LoadTree, "loadTree", text::kLoadTreeItem, text::kOpenTreeTip, Picture::OpenTree, Key::UnknownKey, false, &W::onLoadTree},
      CommandSpec{SaveTree, "saveTree", text::kSaveTreeItem, text::kSaveTreeTip, Picture::SaveTree, Key::UnknownKey, false, &W::onSaveTree},
      CommandSpec{Exit, "exit", text::kExitItem, nullptr, Picture::None, Key::UnknownKey, false, &W::onExit},
      CommandSpec{Discover, "discover", text::kDiscoverItem, text::kDiscoverTip, Picture::Discover, Key::UnknownKey, false, &W::onDiscover},
      CommandSpec{AddDomain, "addDomain", text::kAddDomainItem, text::kAddDomainTip, Picture::AddDomain, Key::UnknownKey, false, &W::onAddDomain},
      CommandSpec{UseIndex, "useIndex", text::kUseIndexItem, text::kUseIndexTip, Picture::None, Key::UnknownKey, true, &W::onUseIndex},
      CommandSpec{LogOn, "logOn", text::kLogOnItem, nullptr, Picture::None, Key::UnknownKey, false, &W::onLogOn},
      CommandSpec{OpenFile, "openFile", text::kOpenFileItem, nullptr, Picture::OpenFile, Key::UnknownKey, false, &W::onOpenFile},
      CommandSpec{OpenFolder, "openFolder", text::kOpenInExplorerItem, text::kOpenFolderTip, Picture::OpenFolder, Key::UnknownKey, false, &W::onOpenFolder},
      CommandSpec{CopyFile, "copyFile", text::kSaveFileItem, text::kCopyFileTip, Picture::CopyFile, Key::UnknownKey, false, &W::onCopyFile},
      CommandSpec{CopyPath, "copyPath", text::kCopyPathItem, nullptr, Picture::None, Key::Copy, false, &W::onCopyPath},
      CommandSpec{About, "about", text::kAboutItem, text::kAboutTip, Picture::About, Key::UnknownKey, false, &W::onAbout},
  };
  return kCommands;
}

}  // namespace vuv::app
