#include "app/ui/main_dlg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QDateTime>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>

#include "app/network/network_tree_model.h"
#include "app/results/result_model.h"
#include "app/ui/about_dlg.h"
#include "app/ui/add_domain_dlg.h"
#include "app/ui/busy_animation.h"
#include "app/ui/dialog_units.h"
#include "app/ui/file_actions.h"
#include "app/ui/file_chooser.h"
#include "app/ui/notice.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "app/ui/tree_files.h"
#include "status/status_update.h"

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
// ~/.config/vuvuveva/vuvuveva.conf
constexpr char kSettingsOwner[] = "vuvuveva";
constexpr char kUseIndexSetting[] = "index/use";

// Where each command shows; kSeparator between groups.
constexpr CommandId kSeparator = static_cast<CommandId>(-1);
using enum CommandId;
constexpr CommandId kFileMenu[] = {LoadTree, SaveTree, kSeparator, Exit};
constexpr CommandId kNetworkMenu[] = {Discover, AddDomain, kSeparator, UseIndex, kSeparator, OpenFolder, CopyFile};
constexpr CommandId kHelpMenu[] = {About};
constexpr CommandId kToolbar[] = {LoadTree, SaveTree, Discover, AddDomain, kSeparator,
                                  OpenFolder, CopyFile, kSeparator, About};
constexpr CommandId kResultPopup[] = {OpenFile, OpenFolder, CopyFile};
constexpr CommandId kTreePopup[] = {LogOn};

}  // namespace

CMainDlg::CMainDlg(WindowBackend& backend, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_backend(backend),
      m_dialogChooser(std::make_unique<DialogFileChooser>()) {
  setWindowTitle(text::kAppName);
  setWindowIcon(picture(Picture::AppIcon));
  m_treeModel = new NetworkTreeModel(m_backend.tree(), this);
  m_resultModel = new ResultModel(this);
  m_files = new FileActions(m_backend, this);
  m_treeFiles = new TreeFiles(m_backend, this);
  setFileChooser(nullptr);

  buildActions();
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
  connect(m_files, &FileActions::status, this, &CMainDlg::showStatus);

  connectBackend();
  action(UseIndex)->setChecked(QSettings(kSettingsOwner, kSettingsOwner).value(kUseIndexSetting, true).toBool());
  m_backend.useIndex(action(UseIndex)->isChecked());
  // The window is as big as its parts ask and cannot be resized.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(0, 0);
  m_tree->setFocus();
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::setDesktop(DesktopOpener& desktop) { m_files->setDesktop(desktop); }

void CMainDlg::setFileChooser(FileChooser* chooser) {
  FileChooser& used = chooser != nullptr ? *chooser : *m_dialogChooser;
  m_files->setFileChooser(used);
  m_treeFiles->setFileChooser(used);
}

void CMainDlg::buildActions() {
  for (const CommandSpec& spec : commandTable()) {
    auto* made = new QAction(picture(spec.picture), QString::fromLatin1(spec.caption), this);
    made->setObjectName(spec.name);
    made->setData(static_cast<int>(spec.id));
    if (spec.tooltip != nullptr) made->setToolTip(QString::fromLatin1(spec.tooltip));
    if (spec.shortcut != QKeySequence::UnknownKey) made->setShortcuts(spec.shortcut);
    made->setCheckable(spec.checkable);
    connect(made, &QAction::triggered, this, spec.handler);
    m_actions[spec.id] = made;
  }
}

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
  m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
  place(m_tree, 7, 63, 189, 315);
  connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &CMainDlg::onTreeSelection);
  connect(m_tree, &QWidget::customContextMenuRequested, this, &CMainDlg::onTreePopup);
  connect(m_tree, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (m_treeModel->needsLogon(index)) m_backend.logOn(m_treeModel->nodeAt(index));
  });
  connect(m_treeModel, &QAbstractItemModel::dataChanged, this, &CMainDlg::updateLogOn);
  connect(m_treeModel, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parentIndex) {
    if (!parentIndex.isValid()) onTopLevelInserted();
  });

  m_searchButton = new QPushButton(text::kSearchButton, client);
  m_searchButton->setObjectName("searchButton");
  m_searchButton->setAutoDefault(false);
  m_searchButton->setToolTip(text::kSearchTip);
  place(m_searchButton, 101, 32, 50, 14);
  connect(m_searchButton, &QPushButton::clicked, action(Search), &QAction::trigger);

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

  // The tree's title: no command is attached to it.
  m_networkTreeButton = new QPushButton(text::kNetworkTreeButton, client);
  m_networkTreeButton->setObjectName("networkTreeButton");
  m_networkTreeButton->setFlat(true);
  m_networkTreeButton->setAutoDefault(false);
  place(m_networkTreeButton, 7, 52, 189, 11);

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
  connect(m_list->header(), &QHeaderView::sectionClicked, this, [this](int column) {
    m_resultModel->sortBy(column == ResultModel::SizeColumn ? SortColumn::Size : SortColumn::Name);
  });
  connect(m_list, &QWidget::customContextMenuRequested, this, &CMainDlg::onResultPopup);
  // Ctrl+C copies the row's path, not the view's current cell.
  action(CopyPath)->setShortcutContext(Qt::WidgetShortcut);
  m_list->addAction(action(CopyPath));
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

void CMainDlg::buildMenus() {
  const auto fill = [this](QMenu* menu, std::span<const CommandId> ids) {
    for (CommandId id : ids) {
      if (id == kSeparator) {
        menu->addSeparator();
      } else {
        menu->addAction(action(id));
      }
    }
  };
  fill(menuBar()->addMenu(text::kFileMenu), kFileMenu);
  fill(menuBar()->addMenu(text::kNetworkMenu), kNetworkMenu);
  fill(menuBar()->addMenu(text::kHelpMenu), kHelpMenu);

  m_resultPopup = new QMenu(text::kPopupTitle, this);
  m_resultPopup->setObjectName("filesPopup");
  fill(m_resultPopup, kResultPopup);
  m_treePopup = new QMenu(this);
  m_treePopup->setObjectName("treePopup");
  fill(m_treePopup, kTreePopup);
  updateLogOn();
}

void CMainDlg::buildToolbar() {
  auto* toolbar = new QToolBar(this);
  toolbar->setObjectName("toolbar");
  toolbar->setAccessibleName("Toolbar");
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setAllowedAreas(Qt::TopToolBarArea);
  toolbar->setIconSize(QSize(kToolbarIconPixels, kToolbarIconPixels));
  toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar->toggleViewAction()->setVisible(false);  // no menu to hide it
  setContextMenuPolicy(Qt::NoContextMenu);
  for (CommandId id : kToolbar) {
    if (id == kSeparator) {
      toolbar->addSeparator();
    } else {
      toolbar->addAction(action(id));
    }
  }
  addToolBar(Qt::TopToolBarArea, toolbar);
}

void CMainDlg::connectBackend() {
  m_backend.setEvents(WindowEvents{
      .status = [this](const StatusUpdate& update) {
        showStatus(QString::fromStdString(statusText(update)));
      },
      .rows = [this](std::vector<ResultRow> rows) { m_resultModel->queue(std::move(rows)); },
      .indexedRows = [this](std::vector<ResultRow> rows, std::int64_t listed) { onIndexedRows(std::move(rows), listed); },
      .changedRows = [this](std::vector<RowChange> changes) { m_resultModel->update(std::move(changes)); },
      .searchFinished = [this](const SearchOutcome& outcome) { onSearchFinished(outcome); },
      .discoveryFinished = [this] { onDiscoveryFinished(); },
      .copyProgress = [this](const CopyProgress& progress) { m_files->copyProgress(progress); },
      .copyFinished = [this](const CopyOutcome& outcome) { m_files->copyFinished(outcome); },
      .error = [this](const std::string& message) { showError(this, QString::fromStdString(message)); },
  });
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      action(Search)->trigger();
      return;
    case Qt::Key_Escape:  // the window stays
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    action(OpenFolder)->trigger();
    return true;  // the view would only start an edit, which the list does not allow
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainDlg::closeEvent(QCloseEvent* event) {
  m_backend.shutdown();
  m_files->closing();
  event->accept();
}

void CMainDlg::onSearch() {
  if (!m_searchIdle) {
    // Stop: the rows stay; the search's end still comes as searchFinished.
    setSearchIdle(true);
    m_backend.stopSearch();
    return;
  }
  if (m_selectedNode == kNoNode) {
    showError(this, text::kSelectLocation);
    return;
  }
  setSearchIdle(false);
  showStatus(QString::fromStdString(statusText(Searching{})));
  m_resultModel->clear();
  m_backend.startSearch(m_selectedNode, m_patternEdit->text().toStdString());
}

void CMainDlg::onLoadTree() {
  if (m_treeFiles->chooseAndLoad()) openTreeFile({});
}

bool CMainDlg::openTreeFile(const QString& path) {
  if (!path.isEmpty() && !m_treeFiles->load(path)) return false;
  // No node of the cleared tree may stay the location. The label keeps its text until the
  // next selection, as after a discovery.
  m_selectedNode = m_backend.tree().root();
  m_selectRootWhenInserted = false;
  return true;
}

void CMainDlg::onSaveTree() { m_treeFiles->chooseAndSave(); }

void CMainDlg::onAddDomain() {
  CAddDomainDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted || dialog.domainName().isEmpty()) return;
  const QString before = m_statusText->text();
  showStatus(text::kRetrievingDomain);
  // Used as typed. A refusal (a discovery still runs) comes as `error`; nothing started.
  if (!m_backend.addDomain(dialog.domainName().toStdString())) showStatus(before);
}

void CMainDlg::onExit() { close(); }

void CMainDlg::showStatus(const QString& line) {
  m_statusText->setText(line);
  // Its name says what it is ("Status"); a screen reader reads the line from here.
  m_statusText->setAccessibleDescription(line);
}

void CMainDlg::onUseIndex() {
  const bool on = action(UseIndex)->isChecked();
  QSettings(kSettingsOwner, kSettingsOwner).setValue(kUseIndexSetting, on);
  m_backend.useIndex(on);
}

void CMainDlg::onIndexedRows(std::vector<ResultRow> rows, std::int64_t listed) {
  const QString when = QLocale().toString(QDateTime::fromSecsSinceEpoch(listed), QLocale::ShortFormat);
  showStatus(QString(text::kShowingIndexed).arg(rows.size()).arg(when));
  m_resultModel->append(std::move(rows));
}

void CMainDlg::onDiscover() {
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

void CMainDlg::onTopLevelInserted() {
  if (!m_selectRootWhenInserted) return;
  const NodeId root = m_backend.tree().root();
  if (root == kNoNode) return;
  m_selectedNode = root;
  m_selectRootWhenInserted = false;
}

void CMainDlg::onDiscoveryFinished() {
  m_animation->hide();
  m_selectRootWhenInserted = false;
  showInformation(this, QString::fromStdString(discoveryDoneNotice()));
}

void CMainDlg::onLogOn() {
  const QModelIndex current = m_tree->currentIndex();
  if (m_treeModel->needsLogon(current)) m_backend.logOn(m_treeModel->nodeAt(current));
}

void CMainDlg::updateLogOn() { action(LogOn)->setEnabled(m_treeModel->needsLogon(m_tree->currentIndex())); }

void CMainDlg::onAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainDlg::onTreeSelection(const QModelIndex& current) {
  updateLogOn();
  const NodeId node = m_treeModel->nodeAt(current);
  if (node == kNoNode) return;
  m_selectedNode = node;
  m_lookIn->setText(text::kLookInPrefix + QString::fromStdString(m_backend.tree().nodePath(node)));
}

void CMainDlg::onTreePopup(const QPoint& position) {
  const QModelIndex index = m_tree->indexAt(position);
  if (!index.isValid()) return;
  m_tree->setCurrentIndex(index);
  updateLogOn();
  m_treePopup->popup(m_tree->viewport()->mapToGlobal(position));
}

void CMainDlg::onResultPopup(const QPoint& position) {
  // The popup acts on the row under the cursor; over the empty area, on the selected one.
  const QModelIndex index = m_list->indexAt(position);
  if (index.isValid()) m_list->setCurrentIndex(index);
  m_resultPopup->popup(m_list->viewport()->mapToGlobal(position));
}

std::optional<ResultRow> CMainDlg::selectedRowOrSay() {
  const QModelIndex current = m_list->currentIndex();
  if (!current.isValid() || !m_list->selectionModel()->isRowSelected(current.row())) {
    showError(this, text::kSelectFileFirst);
    return std::nullopt;
  }
  return m_resultModel->rowAt(current.row());
}

void CMainDlg::onCopyPath() {
  const QModelIndex current = m_list->currentIndex();
  if (current.isValid() && m_list->selectionModel()->isRowSelected(current.row())) {
    QApplication::clipboard()->setText(QString::fromStdString(m_resultModel->rowAt(current.row()).path));
  }
}

void CMainDlg::onOpenFile() {
  if (const std::optional<ResultRow> row = selectedRowOrSay()) m_files->openFile(*row);
}

void CMainDlg::onOpenFolder() {
  if (const std::optional<ResultRow> row = selectedRowOrSay()) m_files->openFolder(*row);
}

void CMainDlg::onCopyFile() {
  if (const std::optional<ResultRow> row = selectedRowOrSay()) m_files->copyFile(*row);
}

void CMainDlg::onSearchFinished(const SearchOutcome& outcome) {
  m_resultModel->flush();
  m_resultModel->remove(outcome.stale);
  setSearchIdle(true);
  QString details;
  for (const ListingFailure& failure : outcome.skipped) details += QString::fromStdString(failureText(failure)) + '\n';
  showInformation(this, QString::fromStdString(searchDoneNotice(static_cast<std::uint64_t>(m_resultModel->rowCount()))),
                  details);
}

void CMainDlg::setSearchIdle(bool idle) {
  m_searchIdle = idle;
  m_searchButton->setText(idle ? text::kSearchButton : text::kStopButton);
}

}  // namespace vuv::app
