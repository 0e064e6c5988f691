// The main window: the network tree on the left with the pattern box and the Search/Stop
// button above it, the result list on the right, menu bar, toolbar and a one-part status line.
// Fixed size; Enter is Search/Stop, Esc does nothing, Exit and the close box end the program.
//
// Every command (menu, toolbar, popup, button, key) goes through OnCommand(), which routes it
// by the command table (command_table.h). The network work is the backend's: the window only
// asks and shows what comes back.
//
// Thread rules: GUI thread only; the backend delivers its events there.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "app/backend/window_backend.h"
#include "tree/network_tree.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolBar;
class QTemporaryDir;
class QTreeView;

namespace vuv::app {

class BusyAnimation;
class CopyProgressDlg;
class DesktopOpener;
class FileChooser;
class NetworkTreeModel;
class ResultModel;

class CMainDlg : public QMainWindow {
  Q_OBJECT

 public:
  // `backend` must outlive the window.
  explicit CMainDlg(WindowBackend& backend, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Where the file actions reach the desktop; must outlive the window. Unset, the window
  // uses the freedesktop tools.
  void setDesktop(DesktopOpener& desktop) { m_desktop = &desktop; }

  // Runs the handler that the command table names for `id`; ids without a row do nothing.
  void OnCommand(int id);

  // Command handlers, in the order of the command table.
  void OnSearch();
  void OnOK();
  void OnCancel();
  void OnLoadTree();
  void OnSaveTree();
  void OnExit();
  void OnDiscoverNetwork();
  void OnAddDomain();
  void OnOpenFolder();
  void OnCopyFile();
  void OnOpenFile();
  void OnAbout();

  // Loads a tree file into the backend; when it loads, its root becomes the search location,
  // as after a discovery. A refusal comes through the backend's `error`.
  bool openTreeFile(const QString& path);
  // Where Save, Load and Copy file ask for files and folders; null: Qt's file dialog. Not
  // owned.
  void setFileChooser(FileChooser* chooser);

  NodeId selectedNode() const { return m_selectedNode; }
  NetworkTreeModel& treeModel() const { return *m_treeModel; }
  ResultModel& resultModel() const { return *m_resultModel; }

 signals:
  // Every command that reaches OnCommand, before it is routed.
  void commandReceived(int id);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildMenus();
  void buildToolbar();
  void connectBackend();
  QAction* commandAction(const char* caption, int id, QObject* parent);

  void OnSelchangedTree(const QModelIndex& current);
  void OnResultColumnClick(int column);
  void OnResultRClick(const QPoint& position);
  void OnResultDblClk();
  void OnCopyPath();
  void OnSearchFinished(const SearchOutcome& outcome);
  void OnDiscoveryFinished();
  void OnTopLevelInserted();
  void OnResultRows(std::vector<ResultRow> rows);
  void flushResultRows();
  void setSearchIdle(bool idle);
  void showError(const QString& message);
  std::optional<QString> chooseTreeFile(bool save);

  // The file actions.
  enum class CopyPurpose { Keep, Open };  // Open: the copy is opened once complete
  std::optional<ResultRow> selectedRow();
  DesktopOpener& desktop();
  QString openCopyFolder();
  void startCopy(const ResultRow& row, const QString& folder, bool replace, CopyPurpose purpose);
  void OnCopyProgress(const CopyProgress& progress);
  void OnCopyFinished(const CopyOutcome& outcome);
  void openUrlOrSay(const QString& url);

  WindowBackend& m_backend;
  NetworkTreeModel* m_treeModel = nullptr;
  ResultModel* m_resultModel = nullptr;

  QTreeView* m_list = nullptr;              // result list
  BusyAnimation* m_animation = nullptr;     // over the tree while discovery runs
  QLineEdit* m_patternEdit = nullptr;
  QTreeView* m_tree = nullptr;
  QPushButton* m_searchButton = nullptr;
  QPushButton* m_networkTreeButton = nullptr;  // the tree's title; does nothing
  QLabel* m_lookIn = nullptr;
  QLabel* m_statusText = nullptr;
  QMenu* m_popupMenu = nullptr;
  QToolBar* m_toolbar = nullptr;

  // Rows wait here briefly so that a flood of small batches costs the view one insertion
  // (and one relayout) per flush, not one per batch.
  std::vector<ResultRow> m_pendingRows;
  QTimer m_rowFlushTimer;

  NodeId m_selectedNode = kNoNode;  // where a search starts
  bool m_searchIdle = true;         // the button reads "Search"
  bool m_selectRootWhenInserted = false;  // a discovery started; its root becomes the location

  std::unique_ptr<FileChooser> m_dialogChooser;
  FileChooser* m_fileChooser = nullptr;
  QString m_treeFolder;  // the folder Save or Load used last; home at start

  DesktopOpener* m_desktop = nullptr;
  std::unique_ptr<DesktopOpener> m_ownDesktop;  // made on first use when none was set
  CopyProgressDlg* m_copyDialog = nullptr;  // while a copy runs
  CopyPurpose m_copyPurpose = CopyPurpose::Keep;
  QString m_lastCopyFolder;                 // this session's last destination
  // Copies made to be opened where nothing opens smb:// URLs: one private folder per session,
  // a numbered folder in it per opening, so equal names never replace a copy still in use.
  std::unique_ptr<QTemporaryDir> m_openCopies;
  int m_openCopyCount = 0;
};

}  // namespace vuv::app
