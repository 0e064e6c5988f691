// The main window offscreen: its controls, texts, layout, command routing, keys and the search
// and discovery exchanges with a fake backend.
#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include "fake_backend.h"
#include "modal_watcher.h"
#include "app/network/network_tree_model.h"
#include "app/results/result_model.h"
#include "app/ui/busy_animation.h"
#include "app/ui/command_ids.h"
#include "app/ui/command_table.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"

namespace vuv::app::test {

class MainDlgTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<FakeBackend> backend_;
  std::unique_ptr<CMainDlg> window_;

  template <typename T>
  T* child(const char* name) {
    T* found = window_->findChild<T*>(name);
    if (found == nullptr) qFatal("no control %s", name);
    return found;
  }

  // ALPHA\S1\Public under the root; returns S1.
  NodeId buildTree() {
    NetworkTree& tree = backend_->tree();
    const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root,
                                    InsertPosition::Last);
    const NodeId alpha = tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
    const NodeId server = tree.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);
    tree.insert(server, "Public", NodeKind::Share, InsertPosition::Last);
    window_->treeModel().applyPendingEvents();
    return server;
  }

  void select(NodeId node) {
    auto* view = child<QTreeView>("tree");
    view->setCurrentIndex(window_->treeModel().indexOf(node));
  }

  // One line per action, "id text" (or its tooltip), "-" for a separator.
  static QStringList listing(const QList<QAction*>& actions, bool tooltips) {
    QStringList out;
    for (QAction* a : actions) {
      out << (a->isSeparator() ? QString("-")
                               : QString("%1 %2").arg(a->data().toInt()).arg(tooltips ? a->toolTip() : a->text()));
    }
    return out;
  }

  QList<QAction*> commandActions() {
    QList<QAction*> actions;
    for (QAction* action : window_->findChildren<QAction*>()) {
      if (action->data().isValid()) actions.push_back(action);
    }
    return actions;
  }

 private slots:
  void init() {
    backend_ = std::make_unique<FakeBackend>();
    window_ = std::make_unique<CMainDlg>(*backend_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    window_.reset();
    backend_.reset();
  }

  void startsWithTheInitialTexts() {
    QCOMPARE(window_->windowTitle(), QString("Vuvuveva"));
    QCOMPARE(child<QLabel>("lookInLabel")->text(), QString("Look in: Not specified"));
    QCOMPARE(child<QLineEdit>("patternEdit")->text(), QString("*.*"));
    QCOMPARE(child<QLineEdit>("patternEdit")->maxLength(), 254);
    QCOMPARE(child<QPushButton>("searchButton")->text(), QString("Search"));
    QCOMPARE(child<QPushButton>("networkTreeButton")->text(), QString("Network tree"));
    QCOMPARE(child<QLabel>("statusText")->text(), QString());
    QVERIFY(!child<BusyAnimation>("animation")->isVisible());
    auto* list = child<QTreeView>("resultList");
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QString("Name"));
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QString("Size"));
    QCOMPARE(list->model()->rowCount(), 0);
    QCOMPARE(list->columnWidth(0), 450);
    QCOMPARE(list->columnWidth(1), 90);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(child<QTreeView>("tree")->model()->rowCount(), 0);
    QCOMPARE(QApplication::focusWidget(), child<QTreeView>("tree"));
    QCOMPARE(child<QPushButton>("searchButton")->toolTip(), QString("Start searching files"));
    QCOMPARE(list->toolTip(), QString("Double click file to open"));
    for (const char* name : {"tree", "patternEdit", "networkTreeButton"}) {
      QCOMPARE(child<QWidget>(name)->toolTip(), QString());
    }
    // Not resizable.
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
  }

  void controlsKeepTheLayoutClearOfToolbarAndStatusLine() {
    auto rectOf = [&](const char* name) {
      auto* widget = window_->findChild<QWidget*>(name);
      return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
    };
    const QRect tree = rectOf("tree"), list = rectOf("resultList"), edit = rectOf("patternEdit");
    const QRect button = rectOf("searchButton"), label = rectOf("lookInLabel");
    const QRect title = rectOf("networkTreeButton"), animation = rectOf("animation");
    const int toolbarBottom = rectOf("toolbar").bottom();
    const int statusTop = window_->statusBar()->mapTo(window_.get(), QPoint(0, 0)).y();
    for (const QRect& rect : {tree, list, edit, button, label, title}) {
      QVERIFY(rect.top() > toolbarBottom);
      QVERIFY(rect.bottom() < statusTop);
    }
    QVERIFY(tree.contains(animation));
    QVERIFY(label.bottom() < edit.top());
    QCOMPARE(edit.top(), button.top());
    QVERIFY(edit.right() < button.left());
    QVERIFY(title.bottom() < tree.top());
    QCOMPARE(title.width(), tree.width());
    QVERIFY(tree.right() < list.left());
    QCOMPARE(tree.bottom(), list.bottom());
    QCOMPARE(label.right(), list.right());
  }

  void tabVisitsTheControlsInLayoutOrder() {
    const std::vector<const char*> order{"tree", "searchButton", "patternEdit",
                                         "networkTreeButton", "resultList", "tree"};
    QApplication::setActiveWindow(window_.get());
    child<QTreeView>("tree")->setFocus();
    for (std::size_t i = 1; i < order.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString(order[i]));
    }
  }

  void everyControlHasAnAccessibleName() {
    for (QWidget* widget : window_->centralWidget()->findChildren<QWidget*>(
             QString(), Qt::FindDirectChildrenOnly)) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      QVERIFY2(accessible != nullptr && !accessible->text(QAccessible::Name).isEmpty(),
               qPrintable(widget->objectName()));
    }
    for (const char* name : {"toolbar", "statusText"}) {
      QVERIFY(!QAccessible::queryAccessibleInterface(window_->findChild<QWidget*>(name))
                   ->text(QAccessible::Name)
                   .isEmpty());
    }
  }

  // Guards against a picture missing from the compiled-in set (a typo shows nothing, silently).
  void everyPictureDrawsAt16Pixels() {
    std::vector<QIcon> icons;
    for (int p = 0; p <= static_cast<int>(Picture::AppIcon); ++p) {
      icons.push_back(picture(static_cast<Picture>(p)));
    }
    for (int kind = 0; kind < 4; ++kind) icons.push_back(nodeIcon(static_cast<NodeKind>(kind)));
    for (int icon = 0; icon < 8; ++icon) icons.push_back(resultIcon(static_cast<ResultIcon>(icon)));
    for (std::size_t i = 0; i < icons.size(); ++i) {
      const QImage image = icons[i].pixmap(16, 16).toImage();
      QVERIFY2(!image.isNull(), qPrintable(QString::number(i)));
      bool drawn = false;
      for (int y = 0; y < image.height() && !drawn; ++y) {
        for (int x = 0; x < image.width() && !drawn; ++x) drawn = qAlpha(image.pixel(x, y)) > 0;
      }
      QVERIFY2(drawn, qPrintable(QString::number(i)));
    }
  }

  void toolbarMenusAndPopupHaveTheirTextsAndCommands() {
    const QList<QAction*> tools = child<QToolBar>("toolbar")->actions();
    QCOMPARE(listing(tools, true),
             (QStringList{"159 Open network tree", "160 Save network tree",
                          "143 Discover network structure", "142 Add domain/workgroup", "-",
                          "139 Open folder", "152 Copy file to the local computer", "-",
                          "161 About Vuvuveva"}));
    for (QAction* action : tools) QVERIFY(action->isSeparator() || (!action->icon().isNull() && action->isEnabled()));

    QStringList menus;
    for (QAction* menu : window_->menuBar()->actions()) {
      menus << menu->menu()->title() << listing(menu->menu()->actions(), false);
    }
    QCOMPARE(menus, (QStringList{"File", "32771 Load network tree...", "32772 Save network tree...", "-",
                                 "32773 Exit", "Network", "32779 Discover network structure",
                                 "32780 Add domain/workgroup", "-", "32781 Open file in Explorer",
                                 "32782 Save file to the local computer", "Help", "32774 About..."}));

    auto* popup = window_->findChild<QMenu*>("filesPopup");
    QCOMPARE(popup->title(), QString("files"));
    QCOMPARE(listing(popup->actions(), false),
             (QStringList{"32783 Open file", "32784 Open folder", "32785 Copy file to folder..."}));
    for (QAction* action : popup->actions()) QVERIFY(!action->icon().isNull());
  }

  void commandTableRoutesEveryIdToItsHandler() {
    using Handler = void (CMainDlg::*)();
    const std::vector<std::pair<Handler, std::vector<int>>> expected{
        {&CMainDlg::OnSearch, {1001}}, {&CMainDlg::OnOK, {1}}, {&CMainDlg::OnCancel, {2}},
        {&CMainDlg::OnLoadTree, {32771, 159}}, {&CMainDlg::OnSaveTree, {32772, 160}},
        {&CMainDlg::OnExit, {32773, 1002}}, {&CMainDlg::OnDiscoverNetwork, {32779, 143, 1004}},
        {&CMainDlg::OnAddDomain, {32780, 142, 1008}},
        {&CMainDlg::OnOpenFolder, {32781, 32784, 139, 1013}},
        {&CMainDlg::OnCopyFile, {32782, 32785, 152}}, {&CMainDlg::OnOpenFile, {32783}},
        {&CMainDlg::OnAbout, {32774, 161}},
    };
    std::size_t ids = 0;
    for (const auto& [handler, routed] : expected) {
      for (int id : routed) {
        const CommandRoute* route = findCommand(id);
        QVERIFY2(route != nullptr && route->handler == handler, qPrintable(QString::number(id)));
        ++ids;
      }
    }
    QCOMPARE(commandTable().size(), ids);
    // Near misses: the title button, the system menu entry, neighbours of real ids.
    for (int id : {0, 16, 1000, 1003, 1015, 32775, 32786, 162}) QVERIFY(findCommand(id) == nullptr);
  }

  void everyActionAndButtonSendsItsCommand() {
    QSignalSpy spy(window_.get(), &CMainDlg::commandReceived);
    ModalWatcher watcher(false);
    for (QAction* action : commandActions()) {
      if (action->data().toInt() == ID_FILE_EXIT) continue;  // ends the window; tested below
      spy.clear();
      action->trigger();
      QCOMPARE(spy.size(), 1);
      QCOMPARE(spy[0][0].toInt(), action->data().toInt());
    }
    for (const auto& [name, id] : {std::pair{"searchButton", 1001}, {"networkTreeButton", 1015}}) {
      spy.clear();
      child<QPushButton>(name)->click();
      QCOMPARE(spy.size(), 1);
      QCOMPARE(spy[0][0].toInt(), id);
    }
  }

  void escapeDoesNothing() {
    QSignalSpy spy(window_.get(), &CMainDlg::commandReceived);
    ModalWatcher watcher;
    for (const char* focus : {"tree", "patternEdit", "resultList"}) {
      QTest::keyClick(child<QWidget>(focus), Qt::Key_Escape);
    }
    QCOMPARE(spy.size(), 3);
    QCOMPARE(spy[0][0].toInt(), 2);
    QVERIFY(window_->isVisible());
    QVERIFY(watcher.boxes.empty());
  }

  // Without a location Enter says so; a selection sets the location; then Enter toggles Search
  // and Stop.
  void enterSearchesTheSelectedLocationAndStops() {
    {
      ModalWatcher watcher;
      QTest::keyClick(child<QLineEdit>("patternEdit"), Qt::Key_Return);
      QCOMPARE(watcher.boxes.size(), std::size_t{1});
      QCOMPARE(watcher.boxes[0].caption, QString("Error"));
      QCOMPARE(watcher.boxes[0].text, QString("Select a location on the left panel to find!"));
      QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
      QVERIFY(backend_->searches.empty());
      QCOMPARE(child<QPushButton>("searchButton")->text(), QString("Search"));
    }
    const NodeId server = buildTree();
    select(backend_->tree().root());
    QCOMPARE(child<QLabel>("lookInLabel")->text(), QString("Look in: MS Windows Network"));
    select(server);
    QCOMPARE(child<QLabel>("lookInLabel")->text(),
             QString("Look in: MS Windows Network\\ALPHA\\S1"));
    QCOMPARE(window_->selectedNode(), server);

    backend_->events().rows({fileRow("\\\\S1\\Public\\old.txt", 1)});
    auto* edit = child<QLineEdit>("patternEdit");
    edit->setText("*.doc");

    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(backend_->searches.size(), std::size_t{1});
    QCOMPARE(backend_->searches[0].pattern, std::string("*.doc"));
    QCOMPARE(backend_->searches[0].node, server);
    QCOMPARE(child<QPushButton>("searchButton")->text(), QString("Stop"));
    QCOMPARE(child<QLabel>("statusText")->text(), QString("Searching..."));
    QCOMPARE(window_->resultModel().rowCount(), 0);  // the last search's rows are gone

    QTest::keyClick(child<QTreeView>("tree"), Qt::Key_Enter);
    QCOMPARE(backend_->stops, 1);
    QCOMPARE(backend_->searches.size(), std::size_t{1});
    QCOMPARE(child<QPushButton>("searchButton")->text(), QString("Search"));

    // A long pattern is cut at 254.
    edit->clear();
    QTest::keyClicks(edit, QString(300, 'x'));
    child<QPushButton>("searchButton")->click();
    QCOMPARE(backend_->searches.at(1).pattern, std::string(254, 'x'));
  }

  void searchFinishShowsOneBoxWithTheRowCount() {
    select(buildTree());
    child<QPushButton>("searchButton")->click();
    backend_->events().rows({fileRow("\\\\S1\\Public\\a.txt", 10), folderRow("\\\\S1\\Public\\d")});
    backend_->events().rows({fileRow("\\\\S1\\Public\\d\\b.txt", 2048)});
    ModalWatcher watcher;
    backend_->events().searchFinished(SearchOutcome{
        {{"\\\\S1\\Public\\locked", makeError(ErrorCode::AccessDenied)}}});
    QCOMPARE(watcher.boxes.size(), std::size_t{1});
    QCOMPARE(watcher.boxes[0].caption, QString("Vuvuveva"));
    QCOMPARE(watcher.boxes[0].text, QString("Search finished. 3 files found."));
    const QString expectedDetail = QString::fromStdString(
        failureText({"\\\\S1\\Public\\locked", makeError(ErrorCode::AccessDenied)}));
    QVERIFY(watcher.boxes[0].details.contains(expectedDetail));
    QCOMPARE(child<QPushButton>("searchButton")->text(), QString("Search"));
  }

  void rowBatchesReachTheListInFewInsertions() {
    QSignalSpy inserted(&window_->resultModel(), &QAbstractItemModel::rowsInserted);
    for (int batch = 0; batch < 20; ++batch) {
      backend_->events().rows({fileRow("\\\\S\\s\\" + std::to_string(batch), 1)});
    }
    QTRY_COMPARE(window_->resultModel().rowCount(), 20);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(window_->resultModel().rowAt(19).path, std::string("\\\\S\\s\\19"));
  }

  // Regression: the view's own Ctrl+C copied the current cell ("2 bytes"), not the path.
  void ctrlCCopiesTheSelectedRowsPath() {
    auto* list = child<QTreeView>("resultList");
    backend_->events().rows({fileRow("\\\\S1\\Public\\a.txt", 1),
                             fileRow("\\\\S1\\Public\\b.txt", 2)});
    QApplication::clipboard()->setText("before");
    QTest::keySequence(list, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("before"));  // nothing selected
    list->setCurrentIndex(list->model()->index(1, 1));
    QTest::keySequence(list, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("\\\\S1\\Public\\b.txt"));
  }

  void headerClickSortsByThatColumn() {
    backend_->events().rows({fileRow("\\\\S\\s\\big", 5u << 20), folderRow("\\\\S\\s\\dir"),
                             fileRow("\\\\S\\s\\small", 5)});
    auto* header = child<QTreeView>("resultList")->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QCOMPARE(window_->resultModel().rowAt(0).path, std::string("\\\\S\\s\\dir"));
    QCOMPARE(window_->resultModel().rowAt(1).path, std::string("\\\\S\\s\\small"));
    QCOMPARE(window_->resultModel().rowAt(2).path, std::string("\\\\S\\s\\big"));
  }

  void aboutOpensFromHelpAndToolbar() {
    for (int id : {ID_HELP_ABOUT, ID_TB_ABOUT}) {
      ModalWatcher watcher;
      window_->OnCommand(id);
      QCOMPARE(watcher.boxes.size(), std::size_t{1});
      QCOMPARE(watcher.boxes[0].caption, QString("About Vuvuveva"));
    }
  }

  void discoverAsksFirstAndShowsTheAnimationUntilDone() {
    backend_->discoveryStarts = false;
    {
      ModalWatcher ok;
      window_->OnCommand(ID_NETWORK_DISCOVER);
    }
    QVERIFY(!child<BusyAnimation>("animation")->isVisible());  // did not start
    backend_->discoveryStarts = true;
    {
      ModalWatcher cancel(false);
      window_->OnCommand(ID_NETWORK_DISCOVER);
      QCOMPARE(cancel.boxes.at(0).text,
               QString("Start retriving network structure. It can take several minutes."));
    }
    QCOMPARE(backend_->discoveries, 1);
    {
      ModalWatcher ok;
      window_->OnCommand(ID_TB_DISCOVER);
    }
    QCOMPARE(backend_->discoveries, 2);
    QVERIFY(child<BusyAnimation>("animation")->isVisible());
    buildTree();
    QCOMPARE(window_->selectedNode(), backend_->tree().root());
    backend_->events().status(GettingInformation{"ALPHA"});
    QCOMPARE(child<QLabel>("statusText")->text(), QString("Getting information about ALPHA"));
    QCOMPARE(child<QLabel>("lookInLabel")->text(), QString("Look in: Not specified"));

    ModalWatcher watcher;
    backend_->events().discoveryFinished();
    QVERIFY(!child<BusyAnimation>("animation")->isVisible());
    QCOMPARE(watcher.boxes.size(), std::size_t{1});
    QCOMPARE(watcher.boxes[0].text, QString("Network tree updated"));
    QCOMPARE(watcher.boxes[0].caption, QString("Vuvuveva"));
  }

  void exitAndCloseEndTheWindowAndStopTheWork() {
    window_->OnCommand(ID_FILE_EXIT);
    QVERIFY(!window_->isVisible());
    QCOMPARE(backend_->shutdowns, 1);
    window_->show();
    window_->OnCommand(IDC_EXIT);
    QVERIFY(!window_->isVisible());
    QCOMPARE(backend_->shutdowns, 2);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::MainDlgTest)
#include "main_dlg_test.moc"
