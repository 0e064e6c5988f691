// What the session backend adds to the use cases: events on the GUI thread, never inside a
// call; busy rules; a replaced search's queued events dropped; a loaded tree's search waiting
// for its addresses; a shutdown that does not wait for the network; the index's rows first.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cerrno>
#include <fstream>

#include "app/backend/session_backend.h"
#include "index/index_store.h"
#include "support/gate.h"
#include "support/in_memory_access.h"

namespace vuv::app::test {
namespace {

using testing::Gate;
struct CountingRecorder final : ListingRecorder {
  void folderListed(const std::string&, std::vector<DirectoryEntry>) override { ++folders; }
  void folderFailed(const std::string&) override { ++folders; }
  std::atomic<int> folders = 0;
};

struct Rig {
  testing::InMemoryAccess access;
  session::UseCases uses{access};
  QStringList events;
  std::vector<ResultRow> rows, indexed;
  std::vector<RowChange> changes;
  std::vector<std::string> stale;
  std::vector<ListingFailure> skipped;
  bool inCall = false;  // inside a backend member
  int ruleBreaks = 0;   // events off the GUI thread or from inside a call
  SessionBackend backend;

  explicit Rig(IndexUse index = {}) : backend(uses, {}, std::move(index)) {
    const auto note = [this](const QString& line) {
      if (inCall || QThread::currentThread() != qApp->thread()) ++ruleBreaks;
      events << line;
    };
    backend.setEvents(WindowEvents{
        .status = [note](const StatusUpdate& u) { note(std::holds_alternative<SearchFinished>(u) ? "SearchFinished" : "status"); },
        .rows = [this, note](std::vector<ResultRow> batch) { note("rows"); rows.insert(rows.end(), batch.begin(), batch.end()); },
        .indexedRows = [this, note](std::vector<ResultRow> batch, std::int64_t) { note("indexedRows"), indexed = std::move(batch); },
        .changedRows = [this](std::vector<RowChange> batch) { changes = std::move(batch); },
        .searchFinished = [this, note](const SearchOutcome& o) { note("searchFinished"), stale = o.stale, skipped = o.skipped; },
        .discoveryFinished = [note] { note("discoveryFinished"); },
        .copyProgress = {},
        .copyFinished = [note](const CopyOutcome& o) { note(o.cancelled ? "copyCancelled" : o.error ? "copyFailed" : "copied"); },
        .error = [note](const std::string& message) { note("error:" + QString::fromStdString(message)); },
    });
  }
  // Every network call and listing held at `gate`, as on a silent host.
  void hold(Gate& gate) {
    access.network.addServer("ALPHA", "S1", {"a"});
    access.network.failShares("S2", EACCES);
    access.network.setCallHook([&](const std::string&, const std::string&, std::stop_token stop) { gate.wait(stop); });
    access.shares.addFile("\\\\S9\\docs\\big.bin", 2 * InMemoryShares::kReadChunk);
    access.shares.setListHook([&](const std::string&, std::stop_token stop) { gate.wait(stop); });
  }
  // 0 a discovery, 1 a search, 2 a copy, 3 a log-on (refused); no event may come from inside.
  bool start(int work, const std::string& folder = {}) {
    inCall = true;
    bool started = true;
    if (work == 0) started = backend.startDiscovery();
    if (work == 1) backend.startSearch(*uses.locate(backend.tree(), "\\\\S9\\docs", {}), "*");
    if (work == 2) started = backend.startCopy("\\\\S9\\docs\\big.bin", false, folder, false);
    if (work == 3) started = backend.logOn(backend.tree().insertTopLevel("S2", NodeKind::Server, InsertPosition::Last));
    inCall = false;
    return started;
  }
};

}  // namespace

class SessionBackendTest : public QObject {
  Q_OBJECT

 private slots:
  // Held on a silent host: refusals while busy, a stopped copy leaves nothing, a refusing
  // server's log-on ends in words, and all starts again. A new run of password answers starts
  // only with nothing else under way.
  void busyRulesAndOneCopyAndLogOnAtATime() {
    Rig rig;
    Gate gate;
    QTemporaryDir dest;
    rig.hold(gate);
    const std::string folder = dest.path().toStdString();
    QVERIFY(rig.start(0) && !rig.start(0));
    QVERIFY(!rig.backend.loadTree(folder + "/any.brk"));
    QVERIFY(rig.start(2, folder) && !rig.start(2, folder));
    QVERIFY(rig.start(3) && !rig.start(3));
    gate.waitForWaiters(3);
    QCOMPARE(rig.access.runs, 2);  // the log-on shares the copy's answers; none per refusal
    rig.backend.stopCopy();
    QTRY_COMPARE(rig.events.count("copyCancelled"), 1);
    gate.open();
    QTRY_COMPARE(rig.events.count("error:Could not list \\\\S2: access denied"), 1);
    QTRY_COMPARE(rig.events.count("discoveryFinished"), 1);
    QCOMPARE(rig.events.filter("error:").size(), 5);  // the refusal and four busy answers
    QVERIFY(rig.start(0));
    QTRY_COMPARE(rig.events.count("discoveryFinished"), 2);
    QVERIFY(rig.backend.addDomain("BETA"));  // part of the discovery: no run of its own
    QTRY_COMPARE(rig.events.count("discoveryFinished"), 3);
    QCOMPARE(rig.access.runs, 3);
    QCOMPARE(rig.ruleBreaks, 0);
  }

  // Rows and the finish of a replaced search already queued for the GUI thread stay there.
  void replacedSearchDropsItsQueuedEvents() {
    Rig rig;
    for (const char* name : {"a.txt", "b.doc"}) rig.access.shares.addFile(std::string("\\\\S1\\docs\\") + name, 20);
    const NodeId node = *rig.uses.locate(rig.backend.tree(), "\\\\S1\\docs", {});
    rig.backend.startSearch(node, "*.txt");
    rig.access.executorOf.waitUntilIdle();  // the first search has ended; its events wait in the queue
    rig.backend.startSearch(node, "*.doc");
    QTRY_COMPARE(rig.events.count("searchFinished"), 1);
    QCOMPARE(rig.rows, (std::vector<ResultRow>{fileRow("\\\\S1\\docs\\b.doc", 20)}));
  }

  // A tree file's server found only by WS-Discovery: the search waits for the round. A server
  // in the searched domain that refused guests has nothing to walk: it is named as skipped.
  void searchOfALoadedTreeWaitsForItsAddresses() {
    Rig rig;
    QTemporaryDir dir;
    const std::string file = dir.filePath("saved.brk").toStdString();
    std::ofstream(file) << "2WORK\n1W9\n0docs\n";
    rig.access.shares.addFile("\\\\W9\\docs\\a.txt", 1);
    rig.access.announced["W9"] = "10.1.2.3";
    Gate round;  // the WS-Discovery round
    rig.access.learnHook = [&](std::stop_token stop) { round.wait(stop); };
    for (bool stopped : {true, false}) {
      QVERIFY(rig.backend.loadTree(file));
      round.waitForWaiters(stopped ? 1 : 2);
      rig.backend.startSearch(rig.backend.tree().firstChild(rig.backend.tree().root()), "*");
      if (stopped) rig.backend.stopSearch();
      QTRY_COMPARE(rig.events.count("searchFinished"), 1);
      QVERIFY(rig.rows.empty());
    }
    NetworkTree& tree = rig.backend.tree();
    tree.setNeedsLogon(tree.insert(tree.firstChild(tree.root()), "W8", NodeKind::Server, InsertPosition::Last), true);
    round.open();
    QTRY_COMPARE(rig.events.count("searchFinished"), 2);
    QCOMPARE(rig.rows.size(), std::size_t{1});
    QVERIFY(rig.skipped.size() == 1 && failureText(rig.skipped[0]) == "Could not list \\\\W8: access denied");
  }

  // With the index on, its rows come while the walk is held; the walk's confirmed rows do not
  // come twice (a changed one changes), its new ones do, and at the end the rows it did not
  // find go where it listed the folder or the folder is gone, not where the listing failed.
  // Names that differ in case only are rows of their own. When the walk ends while the index is
  // still read, SearchFinished still follows the index's rows. Off: nothing from the index,
  // nothing recorded.
  void indexedRowsFirstThenTheWalkDecides() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("index.sqlite").toStdString();
    {
      auto store = index::IndexStore::open(path);
      QVERIFY(store && store->replaceFolder("\\\\S1\\docs", {{"keep.txt", false, 1}, {"Keep.txt", false, 6},
                                                                {"gone.txt", false, 2}, {"dead", true}, {"vanished", true}},
                                            100));
      QVERIFY(store->replaceFolder("\\\\S1\\docs\\dead", {{"old.txt", false, 3}}, 100));
      QVERIFY(store->replaceFolder("\\\\S1\\docs\\vanished\\deep", {{"lost.txt", false, 5}}, 100));
    }
    CountingRecorder recorder;
    Rig rig({path, &recorder});
    rig.access.shares.addFile("\\\\S1\\docs\\keep.txt", 7);
    rig.access.shares.addFile("\\\\S1\\docs\\Keep.txt", 6);  // as a Samba share on Linux may hold
    rig.access.shares.addFile("\\\\S1\\docs\\new.txt", 4);
    rig.access.shares.addFolder("\\\\S1\\docs\\dead");
    rig.access.shares.fail("\\\\S1\\docs\\dead", makeError(ErrorCode::AccessDenied));
    Gate gate;
    rig.access.shares.setListHook([&](const std::string&, std::stop_token stop) { gate.wait(stop); });
    const NodeId node = *rig.uses.locate(rig.backend.tree(), "\\\\S1\\docs", {});
    rig.backend.startSearch(node, "*.txt");
    QTRY_COMPARE(rig.indexed.size(), std::size_t{5});
    gate.open();
    QTRY_COMPARE(rig.events.count("searchFinished"), 1);
    QCOMPARE(rig.rows, (std::vector<ResultRow>{fileRow("\\\\S1\\docs\\new.txt", 4)}));
    QCOMPARE(rig.changes.size(), std::size_t{1});
    QCOMPARE(rig.changes[0].row, fileRow("\\\\S1\\docs\\keep.txt", 7));
    std::sort(rig.stale.begin(), rig.stale.end());
    QCOMPARE(rig.stale, (std::vector<std::string>{"\\\\S1\\docs\\gone.txt", "\\\\S1\\docs\\vanished\\deep\\lost.txt"}));

    std::optional<index::Database> lock = index::Database::open(path).value();
    QVERIFY(lock->exec("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE"));  // no reader gets in
    rig.backend.startSearch(node, "*.txt");
    rig.access.executorOf.waitUntilIdle();
    QCoreApplication::processEvents();  // the walk's end
    lock.reset();
    QTRY_COMPARE(rig.events.count("searchFinished"), 2);
    QCOMPARE(rig.events.mid(rig.events.lastIndexOf("indexedRows")),
             (QStringList{"indexedRows", "rows", "SearchFinished", "searchFinished"}));
    const int recorded = recorder.folders;
    QVERIFY(recorded > 0);

    rig.backend.useIndex(false);
    rig.indexed.clear();
    rig.rows.clear();
    rig.backend.startSearch(node, "*.txt");
    QTRY_COMPARE(rig.events.count("searchFinished"), 3);
    QVERIFY(rig.indexed.empty() && rig.stale.empty());
    QCOMPARE(rig.rows.size(), std::size_t{3});
    QCOMPARE(recorder.folders, recorded);
    QCOMPARE(rig.ruleBreaks, 0);
  }

  void shutdownStopsWorkOnASilentHost() {
    for (int work : {0, 1, 2, 3}) {  // a discovery, a search, a copy, a log-on
      Rig rig;
      QTemporaryDir dest;
      Gate silent;  // never opened: only the stop ends the call
      rig.hold(silent);
      QVERIFY(rig.start(work, dest.path().toStdString()));
      silent.waitForWaiters(1);
      rig.backend.shutdown();  // hangs if the stop does not reach the call
      QVERIFY(!rig.backend.startDiscovery());  // and nothing more starts
      QCoreApplication::processEvents();
      QVERIFY(rig.events.isEmpty());
      QVERIFY(QDir(dest.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::SessionBackendTest)
#include "session_backend_test.moc"
