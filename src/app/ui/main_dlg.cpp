#include "app/ui/main_dlg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <utility>

#include "app/desktop/xdg_desktop.h"
#include "app/network/network_tree_model.h"
#include "app/results/result_model.h"
#include "app/ui/about_dlg.h"
#include "app/ui/add_domain_dlg.h"
#include "app/ui/busy_animation.h"
#include "app/ui/command_ids.h"
#include "app/ui/command_table.h"
#include "app/ui/copy_progress_dlg.h"
#include "app/ui/dialog_units.h"
#include "app/ui/file_chooser.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "browse/smb_url.h"
#include "status/status_update.h"
#include "treefile/tree_file_writer.h"

namespace vuv::app {
namespace {

// The layout is 582 x 406 units; the toolbar and the status line have their own height here,
// so the controls' area is the band from just above the first control to just below the last.
constexpr int kLayoutWidth = 582;
constexpr int kControlsTop = 14;
constexpr int kControlsBottom = 384;

constexpr int kNameColumnWidth = 450;
constexpr int kSizeColumnWidth = 90;
constexpr int kToolbarIconPixels = 16;
constexpr int kRowFlushMs = 50;

// The last component of a UNC path: the name a copy gets.
QString itemName(const std::string& unc) {
  const std::size_t slash = unc.rfind('\\');
  return QString::fromStdString(slash == std::string::npos ? unc : unc.substr(slash + 1));
}

// Where a copy goes when none went anywhere yet this session.
QString defaultCopyFolder() {
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  return !downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

}  // namespace

CMainDlg::CMainDlg(WindowBackend& backend, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_backend(backend),
      m_dialogChooser(std::make_unique<DialogFileChooser>()),
      m_fileChooser(m_dialogChooser.get()),
      m_treeFolder(QDir::homePath()) {
  setWindowTitle(text::kAppName);
  setWindowIcon(picture(Picture::AppIcon));
  m_treeModel = new NetworkTreeModel(m_backend.tree(), this);
  m_resultModel = new ResultModel(this);

  buildControls();
  buildMenus();
  buildToolbar();

  m_statusText = new QLabel(this);
  m_statusText->setObjectName("statusText");
  m_statusText->setAccessibleName("Status");
  m_statusText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_statusText->setTextFormat(Qt::PlainText);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(m_statusText, 1);

  m_rowFlushTimer.setSingleShot(true);
  m_rowFlushTimer.setInterval(kRowFlushMs);
  connect(&m_rowFlushTimer, &QTimer::timeout, this, [this] { flushResultRows(); });

  connectBackend();
  // The window is as big as its parts ask and cannot be resized.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(0, 0);
  m_tree->setFocus();
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::buildControls() {
  auto* client = new QWidget(this);
  const DialogUnits du(font());
  client->setFixedSize(du.x(kLayoutWidth), du.y(kControlsBottom) - du.y(kControlsTop));
  setCentralWidget(client);
  const auto place = [&](QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(du.rect(left, top, width, height).translated(0, -du.y(kControlsTop)));
  };

  m_tree = new QTreeView(client);
  m_tree->setObjectName("tree");
  m_tree->setAccessibleName("Network tree");
  m_tree->setModel(m_treeModel);
  m_tree->setHeaderHidden(true);
  m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
  m_tree->setMouseTracking(true);  // hot tracking
  place(m_tree, 7, 63, 189, 315);
  connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnSelchangedTree(current); });
  connect(m_treeModel, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex& parentIndex) {
            if (!parentIndex.isValid()) OnTopLevelInserted();
          });

  m_searchButton = new QPushButton(text::kSearchButton, client);
  m_searchButton->setObjectName("searchButton");
  m_searchButton->setAutoDefault(false);
  m_searchButton->setToolTip(text::kSearchTip);
  place(m_searchButton, 101, 32, 50, 14);
  connect(m_searchButton, &QPushButton::clicked, this, [this] { OnCommand(IDC_SEARCH); });

  m_patternEdit = new QLineEdit(text::kInitialPattern, client);
  m_patternEdit->setObjectName("patternEdit");
  m_patternEdit->setAccessibleName("File name pattern");
  m_patternEdit->setMaxLength(text::kPatternMaxLength);
  place(m_patternEdit, 7, 32, 90, 14);

  m_lookIn = new QLabel(text::kLookInNothing, client);
  m_lookIn->setObjectName("lookInLabel");
  m_lookIn->setTextFormat(Qt::PlainText);
  m_lookIn->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  place(m_lookIn, 7, 18, 568, 9);

  m_networkTreeButton = new QPushButton(text::kNetworkTreeButton, client);
  m_networkTreeButton->setObjectName("networkTreeButton");
  m_networkTreeButton->setFlat(true);
  m_networkTreeButton->setAutoDefault(false);
  place(m_networkTreeButton, 7, 52, 189, 11);
  connect(m_networkTreeButton, &QPushButton::clicked, this,
          [this] { OnCommand(IDC_NETWORK_TREE); });

  m_list = new QTreeView(client);
  m_list->setObjectName("resultList");
  m_list->setAccessibleName("Search results");
  m_list->setToolTip(text::kResultListTip);
  m_list->setModel(m_resultModel);
  m_list->setRootIsDecorated(false);
  m_list->setItemsExpandable(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->header()->setStretchLastSection(false);
  m_list->header()->setSectionsClickable(true);
  m_list->header()->setSortIndicatorShown(false);
  m_list->setColumnWidth(ResultModel::NameColumn, kNameColumnWidth);
  m_list->setColumnWidth(ResultModel::SizeColumn, kSizeColumnWidth);
  m_list->setContextMenuPolicy(Qt::CustomContextMenu);
  place(m_list, 205, 36, 370, 342);
  connect(m_list->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { OnResultColumnClick(column); });
  connect(m_list, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { OnResultRClick(position); });
  // The view copies its current cell's text on Ctrl+C by itself; the row's path is wanted.
  m_list->installEventFilter(this);
  // A double-click counts also on the list's empty area, where the view sends no signal.
  m_list->viewport()->installEventFilter(this);

  // Over the tree, near its centre; created last so it stays on top.
  m_animation = new BusyAnimation(client);
  m_animation->setObjectName("animation");
  m_animation->setAccessibleName("Discovering network");
  place(m_animation, 73, 199, 63, 31);
  m_animation->hide();

  QWidget::setTabOrder(m_tree, m_searchButton);
  QWidget::setTabOrder(m_searchButton, m_patternEdit);
  QWidget::setTabOrder(m_patternEdit, m_networkTreeButton);
  QWidget::setTabOrder(m_networkTreeButton, m_list);
}

QAction* CMainDlg::commandAction(const char* caption, int id, QObject* parent) {
  auto* action = new QAction(QString::fromLatin1(caption), parent);
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  return action;
}

void CMainDlg::buildMenus() {
  QMenu* file = menuBar()->addMenu(text::kFileMenu);
  file->addAction(commandAction(text::kLoadTreeItem, ID_FILE_LOAD_TREE, file));
  file->addAction(commandAction(text::kSaveTreeItem, ID_FILE_SAVE_TREE, file));
  file->addSeparator();
  file->addAction(commandAction(text::kExitItem, ID_FILE_EXIT, file));

  QMenu* network = menuBar()->addMenu(text::kNetworkMenu);
  network->addAction(commandAction(text::kDiscoverItem, ID_NETWORK_DISCOVER, network));
  network->addAction(commandAction(text::kAddDomainItem, ID_NETWORK_ADD_DOMAIN, network));
  network->addSeparator();
  network->addAction(commandAction(text::kOpenInExplorerItem, ID_NETWORK_OPEN_FOLDER, network));
  network->addAction(commandAction(text::kSaveFileItem, ID_NETWORK_SAVE_FILE, network));

  QMenu* help = menuBar()->addMenu(text::kHelpMenu);
  help->addAction(commandAction(text::kAboutItem, ID_HELP_ABOUT, help));

  m_popupMenu = new QMenu(text::kPopupTitle, this);
  m_popupMenu->setObjectName("filesPopup");
  QAction* openFile = commandAction(text::kOpenFileItem, ID_POPUP_OPEN_FILE, m_popupMenu);
  openFile->setIcon(picture(Picture::OpenFile));
  QAction* openFolder = commandAction(text::kOpenFolderItem, ID_POPUP_OPEN_FOLDER, m_popupMenu);
  openFolder->setIcon(picture(Picture::OpenFolderItem));
  QAction* copyFile = commandAction(text::kCopyFileItem, ID_POPUP_COPY_FILE, m_popupMenu);
  copyFile->setIcon(picture(Picture::CopyFileItem));
  m_popupMenu->addActions({openFile, openFolder, copyFile});
}

void CMainDlg::buildToolbar() {
  m_toolbar = new QToolBar(this);
  m_toolbar->setObjectName("toolbar");
  m_toolbar->setAccessibleName("Toolbar");
  m_toolbar->setMovable(false);
  m_toolbar->setFloatable(false);
  m_toolbar->setAllowedAreas(Qt::TopToolBarArea);
  m_toolbar->setIconSize(QSize(kToolbarIconPixels, kToolbarIconPixels));
  m_toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_toolbar->toggleViewAction()->setVisible(false);  // no menu to hide it
  setContextMenuPolicy(Qt::NoContextMenu);

  struct Button {
    int id;
    Picture picture;
    const char* tooltip;
  };
  constexpr Button kButtons[] = {
      {ID_TB_LOAD_TREE, Picture::OpenTree, text::kOpenTreeTip},
      {ID_TB_SAVE_TREE, Picture::SaveTree, text::kSaveTreeTip},
      {ID_TB_DISCOVER, Picture::Discover, text::kDiscoverTip},
      {ID_TB_ADD_DOMAIN, Picture::AddDomain, text::kAddDomainTip},
      {0, {}, nullptr},
      {ID_TB_OPEN_FOLDER, Picture::OpenFolder, text::kOpenFolderTip},
      {ID_TB_COPY_FILE, Picture::CopyFile, text::kCopyFileTip},
      {0, {}, nullptr},
      {ID_TB_ABOUT, Picture::About, text::kAboutTip},
  };
  for (const Button& button : kButtons) {
    if (button.id == 0) {
      m_toolbar->addSeparator();
      continue;
    }
    QAction* action = commandAction(button.tooltip, button.id, m_toolbar);
    action->setIcon(picture(button.picture));
    action->setToolTip(button.tooltip);
    m_toolbar->addAction(action);
  }
  addToolBar(Qt::TopToolBarArea, m_toolbar);
}

void CMainDlg::connectBackend() {
  m_backend.setEvents(WindowEvents{
      .status = [this](const StatusUpdate& update) {
        m_statusText->setText(QString::fromStdString(statusText(update)));
      },
      .rows = [this](std::vector<ResultRow> rows) { OnResultRows(std::move(rows)); },
      .searchFinished = [this](const SearchOutcome& outcome) { OnSearchFinished(outcome); },
      .discoveryFinished = [this] { OnDiscoveryFinished(); },
      .copyProgress = [this](const CopyProgress& progress) { OnCopyProgress(progress); },
      .copyFinished = [this](const CopyOutcome& outcome) { OnCopyFinished(outcome); },
      .error = [this](const std::string& message) {
        showError(QString::fromStdString(message));
      },
  });
}

void CMainDlg::OnCommand(int id) {
  emit commandReceived(id);
  if (const CommandRoute* route = findCommand(id)) (this->*route->handler)();
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OnCommand(IDOK);
      return;
    case Qt::Key_Escape:
      OnCommand(IDCANCEL);
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_list && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    OnCopyPath();
    return true;
  }
  if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    OnResultDblClk();
    return true;  // the view would only start an edit, which the list does not allow
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainDlg::closeEvent(QCloseEvent* event) {
  m_backend.shutdown();
  delete m_copyDialog;  // the stopped copy sends no end
  m_copyDialog = nullptr;
  event->accept();
}

void CMainDlg::OnSearch() {
  if (!m_searchIdle) {
    // Stop: the rows stay; the search's end still comes as searchFinished.
    setSearchIdle(true);
    m_backend.stopSearch();
    return;
  }
  if (m_selectedNode == kNoNode) {
    showError(text::kSelectLocation);
    return;
  }
  setSearchIdle(false);
  m_statusText->setText(QString::fromStdString(statusText(Searching{})));
  m_pendingRows.clear();
  m_resultModel->clear();
  m_backend.startSearch(m_selectedNode, m_patternEdit->text().toStdString());
}

void CMainDlg::OnOK() { OnSearch(); }

void CMainDlg::OnCancel() {}

void CMainDlg::setFileChooser(FileChooser* chooser) {
  m_fileChooser = chooser != nullptr ? chooser : m_dialogChooser.get();
}

std::optional<QString> CMainDlg::chooseTreeFile(bool save) {
  FileRequest request;
  request.mode = save ? FileRequest::Mode::Save : FileRequest::Mode::Open;
  request.caption = save ? text::kSaveTreeCaption : text::kLoadTreeCaption;
  request.folder = m_treeFolder;
  request.filter = text::kTreeFileFilter;
  request.defaultSuffix = text::kTreeFileSuffix;
  std::optional<QString> path = m_fileChooser->choose(this, request);
  if (path && !path->isEmpty()) {
    m_treeFolder = QFileInfo(*path).absolutePath();
    return path;
  }
  return std::nullopt;
}

void CMainDlg::OnLoadTree() {
  if (const std::optional<QString> path = chooseTreeFile(false)) openTreeFile(*path);
}

bool CMainDlg::openTreeFile(const QString& path) {
  // QFile's encoding of names: the bytes the file system holds.
  if (!m_backend.loadTree(QFile::encodeName(path).toStdString())) return false;
  // No node of the cleared tree may stay the location. The label keeps its text until the
  // next selection, as after a discovery.
  m_selectedNode = m_backend.tree().root();
  m_selectRootWhenInserted = false;
  return true;
}

// Allowed while a discovery runs: the file holds the nodes present when the walk passed them.
void CMainDlg::OnSaveTree() {
  if (m_backend.tree().root() == kNoNode) {
    showError(text::kNothingToSave);
    return;
  }
  const std::optional<QString> path = chooseTreeFile(true);
  if (!path) return;
  const Status saved =
      saveTreeFile(m_backend.tree(), m_backend.tree().root(), QFile::encodeName(*path).toStdString());
  if (saved) return;
  if (isNothingToSave(saved.error())) {  // the tree was cleared while the dialog was open
    showError(text::kNothingToSave);
    return;
  }
  QMessageBox box(QMessageBox::Critical, text::kErrorCaption, text::kCantCreateFile,
                  QMessageBox::Ok, this);
  box.setDetailedText(QString::fromStdString(describe(saved.error())));
  box.exec();
}

void CMainDlg::OnAddDomain() {
  CAddDomainDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted || dialog.domainName().isEmpty()) return;
  const QString before = m_statusText->text();
  m_statusText->setText(text::kRetrievingDomain);
  // Used as typed. A refusal (a discovery still runs) comes as `error`; nothing started.
  if (!m_backend.addDomain(dialog.domainName().toStdString())) m_statusText->setText(before);
}


void CMainDlg::OnExit() { close(); }

void CMainDlg::OnDiscoverNetwork() {
  QMessageBox confirm(QMessageBox::Warning, text::kAppName, text::kConfirmDiscover,
                      QMessageBox::Ok | QMessageBox::Cancel, this);
  if (confirm.exec() != QMessageBox::Ok) return;
  m_animation->show();
  m_animation->raise();
  m_selectRootWhenInserted = true;
  if (!m_backend.startDiscovery()) {
    m_animation->hide();
    m_selectRootWhenInserted = false;
  }
}

void CMainDlg::OnTopLevelInserted() {
  if (!m_selectRootWhenInserted) return;
  const NodeId root = m_backend.tree().root();
  if (root == kNoNode) return;
  m_selectedNode = root;
  m_selectRootWhenInserted = false;
}

void CMainDlg::OnDiscoveryFinished() {
  m_animation->hide();
  m_selectRootWhenInserted = false;
  QMessageBox(QMessageBox::Information, text::kAppName,
              QString::fromStdString(discoveryDoneNotice()), QMessageBox::Ok, this)
      .exec();
}

void CMainDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainDlg::OnSelchangedTree(const QModelIndex& current) {
  const NodeId node = m_treeModel->nodeAt(current);
  if (node == kNoNode) return;
  m_selectedNode = node;
  m_lookIn->setText(text::kLookInPrefix + QString::fromStdString(m_backend.tree().nodePath(node)));
}

void CMainDlg::OnResultColumnClick(int column) {
  flushResultRows();
  m_resultModel->sortBy(column == ResultModel::SizeColumn ? SortColumn::Size : SortColumn::Name);
}

void CMainDlg::OnResultRClick(const QPoint& position) {
  // The popup acts on the row under the cursor; over the empty area, on the selected one.
  const QModelIndex index = m_list->indexAt(position);
  if (index.isValid()) m_list->setCurrentIndex(index);
  m_popupMenu->popup(m_list->viewport()->mapToGlobal(position));
}

void CMainDlg::OnCopyPath() {
  if (const std::optional<ResultRow> row = selectedRow()) {
    QApplication::clipboard()->setText(QString::fromStdString(row->path));
  }
}

std::optional<ResultRow> CMainDlg::selectedRow() {
  flushResultRows();  // keeps rows where they are: only appends at the bottom
  const QModelIndex current = m_list->currentIndex();
  if (!current.isValid() || !m_list->selectionModel()->isRowSelected(current.row())) {
    return std::nullopt;
  }
  return m_resultModel->rowAt(current.row());
}

DesktopOpener& CMainDlg::desktop() {
  if (m_desktop == nullptr) {
    m_ownDesktop = std::make_unique<XdgDesktop>();
    m_desktop = m_ownDesktop.get();
  }
  return *m_desktop;
}

void CMainDlg::OnResultDblClk() { OnOpenFolder(); }

void CMainDlg::OnOpenFile() {
  const std::optional<ResultRow> row = selectedRow();
  if (!row) {
    showError(text::kSelectFileFirst);
    return;
  }
  const Result<std::string> url = smbUrlFromUnc(row->path);
  if (!url) {
    showError(QString::fromStdString(describe(url.error())));
    return;
  }
  if (desktop().canOpenSmbUrls()) {
    openUrlOrSay(QString::fromStdString(*url));
    return;
  }
  // Nothing here reads from smb:// itself: open a local copy instead. A whole folder could be
  // any size, so that one is left to Copy file.
  if (row->isFolder) {
    QMessageBox(QMessageBox::Information, text::kAppName, text::kNoSmbFolderHandler,
                QMessageBox::Ok, this)
        .exec();
    return;
  }
  if (m_copyDialog != nullptr) {  // one copy at a time
    m_copyDialog->raise();
    return;
  }
  const QString folder = openCopyFolder();
  if (!folder.isEmpty()) startCopy(*row, folder, false, CopyPurpose::Open);
}

void CMainDlg::OnOpenFolder() {
  const std::optional<ResultRow> row = selectedRow();
  if (!row) {
    showError(text::kSelectFileFirst);
    return;
  }
  const std::size_t slash = row->path.rfind('\\');
  if (slash == std::string::npos || slash == 0) return;
  const Result<std::string> itemUrl = smbUrlFromUnc(row->path);
  if (!itemUrl) {
    showError(QString::fromStdString(describe(itemUrl.error())));
    return;
  }
  const Result<std::string> folderUrl = smbUrlFromUnc(row->path.substr(0, slash));
  if (!folderUrl) return;  // the item is a server: it has no folder
  desktop().showItem(QString::fromStdString(*itemUrl),
                     [self = QPointer<CMainDlg>(this), url = QString::fromStdString(*folderUrl)] {
                       if (self) self->openUrlOrSay(url);
                     });
}

void CMainDlg::openUrlOrSay(const QString& url) {
  if (!desktop().openUrl(url)) showError(QString(text::kCannotOpen).arg(url));
}

void CMainDlg::OnCopyFile() {
  const std::optional<ResultRow> row = selectedRow();
  if (!row) {
    showError(text::kSelectFileFirst);
    return;
  }
  if (m_copyDialog != nullptr) {  // one copy at a time
    m_copyDialog->raise();
    return;
  }
  FileRequest request;
  request.mode = FileRequest::Mode::Folder;
  request.caption = text::kChooseFolderCaption;
  request.folder = m_lastCopyFolder.isEmpty() ? defaultCopyFolder() : m_lastCopyFolder;
  const std::optional<QString> chosen = m_fileChooser->choose(this, request);
  if (!chosen || chosen->isEmpty()) return;
  const QString folder = *chosen;
  m_lastCopyFolder = folder;
  const QString name = itemName(row->path);
  const QFileInfo target(QDir(folder).filePath(name));
  const bool exists = target.exists() || target.isSymLink();  // also a dangling link
  if (exists) {
    QMessageBox question(QMessageBox::Question, text::kAppName,
                         QString(text::kReplaceQuestion).arg(name, QDir::toNativeSeparators(folder)),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) return;
  }
  startCopy(*row, folder, exists, CopyPurpose::Keep);
}

QString CMainDlg::openCopyFolder() {
  if (m_openCopies == nullptr) {
    // Not removed at exit: a document opened from it may still be open in its program. The
    // system's temporary-file cleaning removes it; only this user may read it meanwhile.
    auto made = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vuvuveva-open-XXXXXX");
    if (!made->isValid()) {
      showError(QString(text::kNoTempFolder).arg(made->errorString()));
      return {};
    }
    made->setAutoRemove(false);
    m_openCopies = std::move(made);
  }
  const QString name = QString::number(++m_openCopyCount);
  QDir base(m_openCopies->path());
  if (!base.mkdir(name)) {
    showError(QString(text::kNoTempFolder).arg(base.filePath(name)));
    return {};
  }
  return base.filePath(name);
}

void CMainDlg::startCopy(const ResultRow& row, const QString& folder, bool replace,
                         CopyPurpose purpose) {
  // A refusal comes as the backend's error event.
  if (!m_backend.startCopy(row.path, row.isFolder, QFile::encodeName(folder).toStdString(), replace)) {
    return;
  }
  m_copyPurpose = purpose;
  m_copyDialog = new CopyProgressDlg(
      purpose == CopyPurpose::Open ? text::kOpenCopyCaption : text::kCopyCaption,
      QString::fromStdString(row.path), this);
  connect(m_copyDialog, &CopyProgressDlg::cancelRequested, this, [this] { m_backend.stopCopy(); });
  m_copyDialog->show();
}

void CMainDlg::OnCopyProgress(const CopyProgress& progress) {
  if (m_copyDialog != nullptr) m_copyDialog->setProgress(progress);
}

void CMainDlg::OnCopyFinished(const CopyOutcome& outcome) {
  delete m_copyDialog;
  m_copyDialog = nullptr;
  if (outcome.cancelled) return;
  if (outcome.error) {
    showError(QString::fromStdString(*outcome.error));
    return;
  }
  const QString destination = QFile::decodeName(QByteArray::fromStdString(outcome.destination));
  if (m_copyPurpose == CopyPurpose::Open) {
    if (!desktop().openLocalFile(destination)) {
      showError(QString(text::kCannotOpen).arg(destination));
    }
    return;
  }
  m_statusText->setText(QString(text::kCopiedTo).arg(destination));
}

void CMainDlg::OnResultRows(std::vector<ResultRow> rows) {
  if (m_pendingRows.empty()) {
    m_pendingRows = std::move(rows);
  } else {
    m_pendingRows.insert(m_pendingRows.end(), std::make_move_iterator(rows.begin()),
                         std::make_move_iterator(rows.end()));
  }
  if (!m_rowFlushTimer.isActive()) m_rowFlushTimer.start();
}

void CMainDlg::flushResultRows() {
  m_rowFlushTimer.stop();
  m_resultModel->append(std::exchange(m_pendingRows, {}));
}

void CMainDlg::OnSearchFinished(const SearchOutcome& outcome) {
  flushResultRows();
  setSearchIdle(true);
  QMessageBox box(QMessageBox::Information, text::kAppName,
                  QString::fromStdString(searchDoneNotice(static_cast<std::uint64_t>(m_resultModel->rowCount()))), QMessageBox::Ok,
                  this);
  if (!outcome.skipped.empty()) {
    QString details;
    for (const ListingFailure& failure : outcome.skipped) {
      details += QString::fromStdString(failureText(failure)) + '\n';
    }
    box.setDetailedText(details);
  }
  box.exec();
}

void CMainDlg::setSearchIdle(bool idle) {
  m_searchIdle = idle;
  m_searchButton->setText(idle ? text::kSearchButton : text::kStopButton);
}

void CMainDlg::showError(const QString& message) {
  QMessageBox(QMessageBox::Critical, text::kErrorCaption, message, QMessageBox::Ok, this).exec();
}

}  // namespace vuv::app
