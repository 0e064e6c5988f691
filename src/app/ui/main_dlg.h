// The main window: the network tree on the left with the pattern box and the Search/Stop
// button above it, the result list on the right, menu bar, toolbar and a one-part status line.
// Fixed size; Enter is Search/Stop, Esc does nothing, Exit and the close box end the program.
//
// The window lays out its parts and routes: every command is one QAction made from the command
// table (command_table.h) and placed in the menus, the toolbar and the popups; backend events
// go to the part that shows them. The file actions (file_actions.h), the tree files
// (tree_files.h) and the rows' batching (the result model) are jobs of their own.
//
// Thread rules: GUI thread only; the backend delivers its events there.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>

#include "app/backend/window_backend.h"
#include "app/ui/command_ids.h"
#include "app/ui/command_table.h"
#include "tree/network_tree.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;

namespace vuv::app {

class BusyAnimation;
class DesktopOpener;
class FileActions;
class FileChooser;
class NetworkTreeModel;
class ResultModel;
class TreeFiles;

class CMainDlg : public QMainWindow {
  Q_OBJECT

 public:
  // `backend` must outlive the window.
  explicit CMainDlg(WindowBackend& backend, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Where the file actions reach the desktop; must outlive the window. Unset, the window
  // uses the freedesktop tools.
  void setDesktop(DesktopOpener& desktop);
  // Where Save, Load and Copy file ask for files and folders; null: the file dialog. Not
  // owned.
  void setFileChooser(FileChooser* chooser);

  // Loads a tree file into the backend; when it loads, its root becomes the search location,
  // as after a discovery. A refusal comes through the backend's `error`.
  bool openTreeFile(const QString& path);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend std::span<const CommandSpec> commandTable();

  void buildControls();
  void buildActions();
  void buildMenus();
  void buildToolbar();
  void connectBackend();
  QAction* action(CommandId id) const { return m_actions.at(id); }

  // Command handlers, named by the command table.
  void onSearch();
  void onLoadTree();
  void onSaveTree();
  void onExit();
  void onDiscover();
  void onAddDomain();
  void onUseIndex();
  void onLogOn();
  void onOpenFile();
  void onOpenFolder();
  void onCopyFile();
  void onCopyPath();
  void onAbout();

  // Backend events and the views' signals.
  void onTreeSelection(const QModelIndex& current);
  void onTreePopup(const QPoint& position);
  void onResultPopup(const QPoint& position);
  void onIndexedRows(std::vector<ResultRow> rows, std::int64_t listed);
  void onSearchFinished(const SearchOutcome& outcome);
  void onDiscoveryFinished();
  void onTopLevelInserted();
  void setSearchIdle(bool idle);
  void showStatus(const QString& line);
  void updateLogOn();
  // The selected result row, or nullopt after telling the user to select one.
  std::optional<ResultRow> selectedRowOrSay();

  WindowBackend& m_backend;
  NetworkTreeModel* m_treeModel = nullptr;
  ResultModel* m_resultModel = nullptr;
  FileActions* m_files = nullptr;
  TreeFiles* m_treeFiles = nullptr;
  std::unique_ptr<FileChooser> m_dialogChooser;
  std::map<CommandId, QAction*> m_actions;

  QTreeView* m_list = nullptr;              // result list
  BusyAnimation* m_animation = nullptr;     // over the tree while discovery runs
  QLineEdit* m_patternEdit = nullptr;
  QTreeView* m_tree = nullptr;
  QPushButton* m_searchButton = nullptr;
  QPushButton* m_networkTreeButton = nullptr;  // the tree's title; does nothing
  QLabel* m_lookIn = nullptr;
  QLabel* m_statusText = nullptr;
  QMenu* m_resultPopup = nullptr;
  QMenu* m_treePopup = nullptr;

  NodeId m_selectedNode = kNoNode;  // where a search starts
  bool m_searchIdle = true;         // the button reads "Search"
  bool m_selectRootWhenInserted = false;  // a discovery started; its root becomes the location
};

}  // namespace vuv::app
