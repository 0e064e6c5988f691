// The window's own texts: captions, labels, tooltips and message boxes. Kept in one place so
// that the window and its tests use the very same strings. Status lines and the completion
// notices are the core's (status/status_update.h).
#pragma once

namespace vuv::app::text {

inline constexpr char kAppName[] = "Vuvuveva";
inline constexpr char kAboutCaption[] = "About Vuvuveva";
inline constexpr char kErrorCaption[] = "Error";

inline constexpr char kLookInPrefix[] = "Look in: ";
inline constexpr char kLookInNothing[] = "Look in: Not specified";
inline constexpr char kInitialPattern[] = "*.*";
inline constexpr int kPatternMaxLength = 254;
inline constexpr char kSearchButton[] = "Search";
inline constexpr char kStopButton[] = "Stop";
inline constexpr char kNetworkTreeButton[] = "Network tree";
inline constexpr char kNameColumn[] = "Name";
inline constexpr char kSizeColumn[] = "Size";
inline constexpr char kOkButton[] = "OK";
inline constexpr char kCancelButton[] = "Cancel";

// Menu bar.
inline constexpr char kFileMenu[] = "File";
inline constexpr char kNetworkMenu[] = "Network";
inline constexpr char kHelpMenu[] = "Help";
inline constexpr char kLoadTreeItem[] = "Load network tree...";
inline constexpr char kSaveTreeItem[] = "Save network tree...";
inline constexpr char kExitItem[] = "Exit";
inline constexpr char kDiscoverItem[] = "Discover network structure";
inline constexpr char kAddDomainItem[] = "Add domain/workgroup";
inline constexpr char kOpenInExplorerItem[] = "Open file in Explorer";
inline constexpr char kSaveFileItem[] = "Save file to the local computer";
inline constexpr char kAboutItem[] = "About...";
inline constexpr char kUseIndexItem[] = "Use the index of names";

// Result popup.
inline constexpr char kPopupTitle[] = "files";
inline constexpr char kOpenFileItem[] = "Open file";
inline constexpr char kOpenFolderItem[] = "Open folder";
inline constexpr char kCopyPathItem[] = "Copy path";

// Tree popup, and a server that refused guests.
inline constexpr char kLogOnItem[] = "Log on...";
inline constexpr char kNeedsLogon[] =
    "Needs a log-on: it does not show its shares to guests. Double-click it or choose \"Log on...\".";

// Tooltips.
inline constexpr char kOpenTreeTip[] = "Open network tree";
inline constexpr char kSaveTreeTip[] = "Save network tree";
inline constexpr char kDiscoverTip[] = "Discover network structure";
inline constexpr char kAddDomainTip[] = "Add domain/workgroup";
inline constexpr char kOpenFolderTip[] = "Open folder";
inline constexpr char kCopyFileTip[] = "Copy file to the local computer";
inline constexpr char kAboutTip[] = "About Vuvuveva";
inline constexpr char kUseIndexTip[] = "Show what earlier searches found at once, and remember what searches find";
inline constexpr char kSearchTip[] = "Start searching files";
inline constexpr char kResultListTip[] = "Double click file to open";

// Message boxes and status line.
inline constexpr char kSelectLocation[] = "Select a location on the left panel to find!";
inline constexpr char kConfirmDiscover[] =
    "Start retriving network structure. It can take several minutes.";
inline constexpr char kRetrievingDomain[] = "Retriving information about domain... Please wait.";
inline constexpr char kNothingToSave[] =
    "Nothing to save! Press 'Discover network tree' button to obtain network tree!";
inline constexpr char kCantCreateFile[] = "Can't create file!";
// %1 rows, %2 when the index last listed the location.
inline constexpr char kShowingIndexed[] = "Showing %1 results from the index of %2; checking the network...";

// Add domain dialog.
inline constexpr char kAddDomainCaption[] = "New Domain or Workgroup";
inline constexpr char kDomainLabel[] = "Input domain name:";
inline constexpr char kDomainEditName[] = "Domain name";

// Tree file dialogs.
inline constexpr char kSaveTreeCaption[] = "Save network tree";
inline constexpr char kLoadTreeCaption[] = "Load network tree";
inline constexpr char kTreeFileFilter[] = "Network tree files(*.brk)";
inline constexpr char kTreeFileSuffix[] = "brk";

// Password dialog.
inline constexpr char kPasswordCaption[] = "Password required";
inline constexpr char kPasswordMessage[] =
    "%1 refuses guest access. Log on with a user name and password.";
inline constexpr char kSharePasswordMessage[] =
    "%1 refuses the log-on its server accepted. Log on with another user name and password.";
inline constexpr char kUserLabel[] = "User:";
inline constexpr char kPasswordLabel[] = "Password:";
inline constexpr char kDomainLabelText[] = "Domain:";
inline constexpr char kUserName[] = "User name";
inline constexpr char kPasswordName[] = "Password";
inline constexpr char kDomainName[] = "Domain";
inline constexpr char kRememberBox[] = "Remember for this session";
inline constexpr int kCredentialMaxLength = 255;

// The file actions: Open file, Open folder, Copy file.
inline constexpr char kSelectFileFirst[] = "Please, select a file first!";
inline constexpr char kChooseFolderCaption[] = "Copy to folder";
inline constexpr char kReplaceQuestion[] = "%1 already exists in %2: replace?";
inline constexpr char kCopiedTo[] = "Copied to %1";
inline constexpr char kCannotOpen[] = "Cannot open %1: no program to open it could be started.";
inline constexpr char kNoTempFolder[] = "Cannot create a temporary folder for the copy: %1";
inline constexpr char kNoSmbFolderHandler[] =
    "No program on this desktop opens network folders. Use \"Save file to the local computer\" to "
    "copy the folder to this computer.";

// The copy's progress dialog.
inline constexpr char kCopyCaption[] = "Copy file";
inline constexpr char kOpenCopyCaption[] = "Open file";
inline constexpr char kCopyItemLabel[] = "Copying:";
inline constexpr char kCopyBytesLabel[] = "Copied:";
inline constexpr char kCopyRateLabel[] = "Rate:";
inline constexpr char kCopyTimeLeftLabel[] = "Time left:";
inline constexpr char kCopyBytesOf[] = "%1 of %2";
inline constexpr char kCopyUnknown[] = "Estimating...";
inline constexpr char kCancelling[] = "Cancelling...";

}  // namespace vuv::app::text
