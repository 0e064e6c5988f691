// The main window offscreen on a fake backend: its controls, the actions that carry every
// command, keys, and the search, discovery and log-on exchanges.
#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/ui/pictures.h"
#include "window_rig.h"

namespace vuv::app::test {

class MainDlgTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<WindowRig> rig_;
  QTemporaryDir settings_;

  // ALPHA\S1\Public and ALPHA\S2 (S2 marked as refusing guests) under the root.
  NodeId s1_ = kNoNode, s2_ = kNoNode;
  void buildTree() {
    NetworkTree& tree = rig_->fake.tree();
    const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
    const NodeId alpha = tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
    s1_ = tree.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);
    tree.insert(s1_, "Public", NodeKind::Share, InsertPosition::Last);
    s2_ = tree.insert(alpha, "S2", NodeKind::Server, InsertPosition::Sorted);
    tree.setNeedsLogon(s2_, true);
  }
  QString label(const char* name) { return rig_->child<QLabel>(name)->text(); }
  QPushButton* searchButton() { return rig_->child<QPushButton>("searchButton"); }

 private slots:
  void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path()); }
  void init() { rig_ = std::make_unique<WindowRig>(); }
  void cleanup() { rig_.reset(); }

  // A fixed size, and a name for screen readers on every control (the end-to-end test finds them
  // by it). Where the controls sit is the layout's business, not a test's.
  void fixedSizeAndNamedControls() {
    CMainDlg& window = rig_->window;
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QList<QWidget*> named = window.centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    named << rig_->child("statusText");
    for (QToolButton* tool : rig_->child<QToolBar>("toolbar")->findChildren<QToolButton*>()) {
      if (tool->defaultAction() != nullptr) named << tool;
    }
    for (QWidget* widget : named) {
      QVERIFY2(!QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty(),
               qPrintable(widget->objectName()));
    }
  }

  // A picture missing from the compiled-in set shows nothing, silently.
  void everyPictureDraws() {
    std::vector<QIcon> icons{nodeIcon(NodeKind::Server, true)};
    for (int p = 0; p < static_cast<int>(Picture::None); ++p) icons.push_back(picture(static_cast<Picture>(p)));
    for (int kind = 0; kind < 4; ++kind) icons.push_back(nodeIcon(static_cast<NodeKind>(kind)));
    for (int icon = 0; icon < 8; ++icon) icons.push_back(resultIcon(static_cast<ResultIcon>(icon)));
    for (std::size_t i = 0; i < icons.size(); ++i) {
      const QImage image = icons[i].pixmap(16, 16).toImage();
      bool drawn = false;
      for (int y = 0; y < image.height() && !drawn; ++y) {
        for (int x = 0; x < image.width() && !drawn; ++x) drawn = qAlpha(image.pixel(x, y)) > 0;
      }
      QVERIFY2(drawn, qPrintable(QString::number(i)));
    }
    QVERIFY(nodeIcon(NodeKind::Server, true).pixmap(16, 16).toImage() != nodeIcon(NodeKind::Server).pixmap(16, 16).toImage());
  }

  // Menus, toolbar and popups show the same action objects, one per command.
  void eachCommandIsOneActionWhereverItShows() {
    QList<QAction*> shown = rig_->child<QToolBar>("toolbar")->actions();
    for (QAction* menu : rig_->window.menuBar()->actions()) shown << menu->menu()->actions();
    for (const char* popup : {"filesPopup", "treePopup"}) shown << rig_->child<QMenu>(popup)->actions();
    QSet<int> ids;
    QSet<QAction*> actions;
    for (QAction* action : shown) {
      if (action->isSeparator()) continue;
      QCOMPARE(rig_->window.findChild<QAction*>(action->objectName()), action);
      actions.insert(action);
      ids.insert(action->data().toInt());
    }
    QCOMPARE(ids.size(), actions.size());
    QVERIFY(actions.size() < shown.size() - 4);  // some show in two places or more
    for (QAction* action : rig_->child<QToolBar>("toolbar")->actions()) {
      QVERIFY(action->isSeparator() || (!action->icon().isNull() && !action->toolTip().isEmpty()));
    }
  }

  // Without a location the search says so; a selection sets it; Enter toggles Search and Stop;
  // Esc does nothing.
  void enterSearchesTheSelectedLocationAndStops() {
    auto* edit = rig_->child<QLineEdit>("patternEdit");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(takeBoxes(&rig_->window).size(), std::size_t{1});
    QVERIFY(rig_->fake.searches.empty());
    buildTree();
    rig_->select("S1");
    QVERIFY(label("lookInLabel").endsWith("\\ALPHA\\S1"));
    rig_->showRows({fileRow("\\\\S1\\Public\\old.txt", 1)});
    edit->setText("*.doc");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(rig_->fake.searches.size(), std::size_t{1});
    QCOMPARE(rig_->fake.searches[0].pattern, std::string("*.doc"));
    QCOMPARE(rig_->fake.searches[0].node, s1_);
    QCOMPARE(rig_->list()->model()->rowCount(), 0);  // the last search's rows are gone
    const QString stop = searchButton()->text();
    QTest::keyClick(rig_->tree(), Qt::Key_Escape);
    QTest::keyClick(rig_->tree(), Qt::Key_Enter);
    QCOMPARE(rig_->fake.stops, 1);
    QVERIFY(searchButton()->text() != stop);
    QVERIFY(rig_->window.isVisible());
    edit->clear();
    QTest::keyClicks(edit, QString(edit->maxLength() + 10, 'x'));
    searchButton()->click();
    QCOMPARE(rig_->fake.searches.at(1).pattern.size(), std::size_t(edit->maxLength()));
    QVERIFY(takeBoxes(&rig_->window).empty());
  }

  // The index's rows show at once and take the walk's values; the finish box counts every row, also those still on their
  // way, but not those the walk found gone, and lists the skipped folders; it does not wait:
  // the event returns with the box open.
  void searchFinishShowsOneBoxWithTheRowCount() {
    buildTree();
    rig_->select("S1");
    searchButton()->click();
    rig_->fake.events().indexedRows({fileRow("\\\\S1\\Public\\a.txt", 10), fileRow("\\\\S1\\Public\\gone", 1)}, 1e9);
    QCOMPARE(rig_->list()->model()->rowCount(), 2);
    QVERIFY(label("statusText").startsWith("Showing 2 results from the index of "));
    rig_->fake.events().changedRows({{"\\\\S1\\Public\\a.txt", fileRow("\\\\S1\\Public\\A.txt", 20)}});
    QCOMPARE(rig_->list()->model()->index(0, 0).data().toString(), "\\\\S1\\Public\\A.txt");
    rig_->fake.events().rows({folderRow("\\\\S1\\Public\\d")});
    rig_->fake.events().rows({fileRow("\\\\S1\\Public\\d\\b.txt", 2048)});
    const ListingFailure skipped{"\\\\S1\\Public\\locked", makeError(ErrorCode::AccessDenied)};
    rig_->fake.events().searchFinished(SearchOutcome{{skipped}, {"\\\\S1\\Public\\gone"}});
    const std::vector<SeenBox> boxes = takeBoxes(&rig_->window);
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].text, QString::fromStdString(searchDoneNotice(3)));
    QVERIFY(boxes[0].details.contains(QString::fromStdString(failureText(skipped))));
    searchButton()->click();  // idle again: a new search
    QCOMPARE(rig_->fake.searches.size(), std::size_t{2});
  }

  // Use the index of names is on at first, remembered, and tells the backend.
  void theIndexToggleIsRemembered() {
    QVERIFY(rig_->fake.indexUsed);
    rig_->trigger("useIndex");
    QVERIFY(!rig_->fake.indexUsed);
    rig_ = std::make_unique<WindowRig>();
    QVERIFY(!rig_->fake.indexUsed && !rig_->child<QAction>("useIndex")->isChecked());
    rig_->trigger("useIndex");
    QVERIFY(rig_->fake.indexUsed);
  }

  // Ctrl+C copies the selected row's path (regression: the view's own copied the current cell,
  // "2 bytes"); a click on the Size header sorts by size.
  void ctrlCCopiesThePathAndTheHeaderSorts() {
    rig_->showRows({fileRow("\\\\S\\s\\big", 5u << 20), folderRow("\\\\S\\s\\dir"), fileRow("\\\\S\\s\\small", 5)});
    QApplication::setActiveWindow(&rig_->window);
    rig_->list()->setFocus();
    QApplication::clipboard()->setText("before");
    QTest::keySequence(rig_->list(), QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("before"));  // nothing selected
    rig_->list()->setCurrentIndex(rig_->list()->model()->index(2, 1));
    QTest::keySequence(rig_->list(), QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("\\\\S\\s\\small"));
    QHeaderView* header = rig_->list()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QStringList shown;
    for (int row = 0; row < 3; ++row) shown << rig_->list()->model()->index(row, 0).data().toString();
    QCOMPARE(shown, (QStringList{"\\\\S\\s\\dir", "\\\\S\\s\\small", "\\\\S\\s\\big"}));
  }

  void discoverAsksFirstAndShowsTheAnimationUntilDone() {
    QWidget* animation = rig_->child("animation");
    const auto discover = [&](QMessageBox::StandardButton answer) {
      ModalWatcher watcher(answer);
      rig_->trigger("discover");
      return watcher.boxes.size();
    };
    QCOMPARE(discover(QMessageBox::Cancel), std::size_t{1});
    QCOMPARE(rig_->fake.discoveries, 0);
    rig_->fake.discoveryStarts = false;
    discover(QMessageBox::Ok);
    QCOMPARE(rig_->fake.discoveries, 1);
    QVERIFY(!animation->isVisible());  // did not start
    rig_->fake.discoveryStarts = true;
    discover(QMessageBox::Ok);
    QVERIFY(animation->isVisible());
    buildTree();
    QTRY_VERIFY(rig_->tree()->model()->rowCount() > 0);
    rig_->fake.events().status(GettingInformation{"ALPHA"});
    QCOMPARE(label("statusText"), QString::fromStdString(statusText(GettingInformation{"ALPHA"})));
    rig_->fake.events().discoveryFinished();
    QVERIFY(!animation->isVisible());
    const std::vector<SeenBox> boxes = takeBoxes(&rig_->window);
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].text, QString::fromStdString(discoveryDoneNotice()));
    searchButton()->click();  // the root became the location
    QCOMPARE(rig_->fake.searches.at(0).node, rig_->fake.tree().root());
  }

  // A server that refused guests shows so (what a screen reader hears of it, the end-to-end test
  // checks), and a double-click or the popup's Log on logs on to it; other nodes do not.
  void aMarkedServerShowsItAndLogsOnWhenAsked() {
    buildTree();
    rig_->select("S1");
    const QModelIndex s1 = rig_->tree()->currentIndex();
    rig_->select("S2");
    const QModelIndex s2 = rig_->tree()->currentIndex();
    QVERIFY(!s2.data(Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(s1.data(Qt::ToolTipRole).isNull());
    QVERIFY(s1.data(Qt::DecorationRole).value<QIcon>().cacheKey() != s2.data(Qt::DecorationRole).value<QIcon>().cacheKey());

    QAction* logOn = rig_->child<QAction>("logOn");
    QVERIFY(logOn->isEnabled());
    logOn->trigger();
    const auto doubleClick = [&](const QModelIndex& index) {  // a person's: the press selects first
      QTest::mouseClick(rig_->tree()->viewport(), Qt::LeftButton, {}, rig_->tree()->visualRect(index).center());
      QTest::mouseDClick(rig_->tree()->viewport(), Qt::LeftButton, {}, rig_->tree()->visualRect(index).center());
    };
    doubleClick(s2);
    doubleClick(s1);
    QVERIFY(!logOn->isEnabled());
    logOn->trigger();
    QCOMPARE(rig_->fake.logOns, (std::vector<NodeId>{s2_, s2_}));
    // Logged on: the mark goes.
    rig_->fake.tree().setNeedsLogon(s2_, false);
    rig_->tree()->setCurrentIndex(s2);
    QTRY_VERIFY(s2.data(Qt::ToolTipRole).isNull());
    QVERIFY(!logOn->isEnabled());
  }

  void exitEndsTheWindowAndStopsTheWork() {
    rig_->trigger("exit");
    QVERIFY(!rig_->window.isVisible());
    QCOMPARE(rig_->fake.shutdowns, 1);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::MainDlgTest)
#include "main_dlg_test.moc"
