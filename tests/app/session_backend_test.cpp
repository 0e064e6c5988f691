// The session backend over the core's in-memory network and shares: discovery into the tree
// model, loading a tree file, the busy rules, the no-domain case, dropping a replaced search's queued events, copies
// with progress, stop and the one-at-a-time rule, and a shutdown that does not wait for the network.
#include <QAbstractItemModelTester>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cerrno>
#include <optional>

#include "app/backend/session_backend.h"
#include "app/network/network_tree_model.h"
#include "browse/in_memory_network.h"
#include "browse/in_memory_shares.h"
#include "support/gate.h"

namespace vuv::app::test {

namespace {

using testing::Gate;

// Everything the window would be told, as lines, checking the thread rules on the way.
struct Recorder {
  QStringList events;
  std::vector<ResultRow> rows;
  std::vector<ListingFailure> skipped;
  std::vector<CopyProgress> progress;
  std::optional<CopyOutcome> copied;
  bool inCall = false;  // set while the test is inside a backend member
  int ruleBreaks = 0;   // events off the GUI thread or from inside a call

  void note(const QString& line) {
    if (inCall || QThread::currentThread() != qApp->thread()) ++ruleBreaks;
    events << line;
  }
  WindowEvents events_() {
    return WindowEvents{
        .status = [this](const StatusUpdate& update) { note("status:" + QString::fromStdString(statusText(update))); },
        .rows = [this](std::vector<ResultRow> batch) {
          note("rows");
          rows.insert(rows.end(), batch.begin(), batch.end());
        },
        .searchFinished = [this](const SearchOutcome& outcome) {
          note("searchFinished");
          skipped = outcome.skipped;
        },
        .discoveryFinished = [this] { note("discoveryFinished"); },
        .copyProgress = [this](const CopyProgress& p) {
          if (inCall || QThread::currentThread() != qApp->thread()) ++ruleBreaks;
          progress.push_back(p);
        },
        .copyFinished = [this](const CopyOutcome& outcome) {
          note("copyFinished");
          copied = outcome;
        },
        .error = [this](const std::string& message) { note("error:" + QString::fromStdString(message)); },
    };
  }
  int count(const QString& line) const { return static_cast<int>(events.count(line)); }
};

struct Rig {
  InMemoryNetwork network;
  InMemoryShares shares;
  Executor executor{8};
  Recorder recorder;
  SessionBackend backend{network, shares, shares, executor};

  Rig() { backend.setEvents(recorder.events_()); }

  template <class Call>
  auto call(Call member) {
    recorder.inCall = true;
    auto result = member(backend);
    recorder.inCall = false;
    return result;
  }
  // A server node with share leaves, as a loaded tree has them.
  NodeId server(const std::string& name, std::initializer_list<const char*> shareNames) {
    const NodeId node = backend.tree().insertTopLevel(name, NodeKind::Server, InsertPosition::Last);
    for (const char* share : shareNames) backend.tree().insert(node, share, NodeKind::Share, InsertPosition::Last);
    return node;
  }
  // Holds every network call, listing and read past the first chunk at `gate`, as a silent host.
  void holdAt(Gate& gate) {
    network.addServer("ALPHA", "S1", {"a"});
    network.setCallHook([&](const std::string&, const std::string&, std::stop_token stop) { gate.wait(stop); });
    shares.addFile("\\\\S9\\docs\\x.txt", 1);
    shares.addFile("\\\\S9\\docs\\big.bin", 2 * InMemoryShares::kReadChunk);
    shares.setListHook([&](const std::string&, std::stop_token stop) { gate.wait(stop); });
    shares.setReadHook([&](const std::string&, std::uint64_t offset, std::stop_token stop) {
      if (offset > 0) gate.wait(stop);
    });
  }
  // Starts a discovery (0), a search of \\S9\docs (1) or a copy of its big.bin into `folder` (2).
  bool start(int work, const std::string& folder = {}) {
    if (work == 1) {
      const NodeId node = server("S9", {"docs"});
      return call([&](SessionBackend& b) { b.startSearch(node, "*.txt"); return true; });
    }
    if (work == 2) return call([&](SessionBackend& b) { return b.startCopy("\\\\S9\\docs\\big.bin", false, folder, false); });
    return call([](SessionBackend& b) { return b.startDiscovery(); });
  }
};

constexpr char kGoodTreeFile[] = "2ALPHA\n1S1\n0a\n0b\n2ZETA\n1S2\n0c\n";

// Writes `bytes` to a file in `dir` and returns its path.
std::string writeFile(const QTemporaryDir& dir, const QByteArray& bytes) {
  const QString path = dir.filePath("saved.brk");
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
  return path.toStdString();
}

bool holds(const NetworkTree& tree, NodeId node, const std::string& text) {
  for (NodeId child : tree.children(node)) {
    if (tree.text(child) == text || holds(tree, child, text)) return true;
  }
  return false;
}

QString shapeOf(const QAbstractItemModel& model, const QModelIndex& index) {
  QString out = index.isValid() ? index.data().toString() : QString("*");
  if (model.rowCount(index) == 0) return out;
  QStringList children;
  for (int row = 0; row < model.rowCount(index); ++row) children << shapeOf(model, model.index(row, 0, index));
  return out + "(" + children.join(",") + ")";
}

}  // namespace

class SessionBackendTest : public QObject {
  Q_OBJECT

 private slots:
  void discoveryFillsTheTreeModel() {
    Rig rig;
    rig.network.addServer("ZETA", "S2", {"c"});
    rig.network.addServer("ALPHA", "S1", {"a", "b"});
    NetworkTreeModel model(rig.backend.tree());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QVERIFY(rig.call([](SessionBackend& b) { return b.startDiscovery(); }));
    QTRY_COMPARE(rig.recorder.count("discoveryFinished"), 1);
    model.applyPendingEvents();
    QCOMPARE(shapeOf(model, {}), QString("*(MS Windows Network(ALPHA(S1(a,b)),ZETA(S2(c))))"));
    QCOMPARE(rig.recorder.events.at(rig.recorder.events.size() - 2), "status:" + QString::fromStdString(statusText(Ready{})));
    QCOMPARE(rig.recorder.ruleBreaks, 0);
  }

  void loadTreeReplacesTheTreeOrLeavesItAndSaysWhy_data() {
    QTest::addColumn<QByteArray>("bytes");  // empty: no file at all
    QTest::addColumn<QString>("shape");     // of the model afterwards
    QTest::addColumn<QString>("reason");    // in the error message after the common start; empty: none
    const QString before = "*(OLD(docs))";
    QTest::newRow("good file") << QByteArray(kGoodTreeFile) << "*(MS Windows Network(ALPHA(S1(a,b)),ZETA(S2(c))))" << "";
    QTest::newRow("bad code after a blank line") << QByteArray("2ALPHA\n1S1\n\nx\n") << before << "line 4: ";
    QTest::newRow("no such file") << QByteArray() << before << "saved.brk";
  }
  void loadTreeReplacesTheTreeOrLeavesItAndSaysWhy() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shape);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const std::string path = bytes.isEmpty() ? dir.filePath("saved.brk").toStdString() : writeFile(dir, bytes);
    Rig rig;
    rig.server("OLD", {"docs"});
    NetworkTreeModel model(rig.backend.tree());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(rig.call([&](SessionBackend& b) { return b.loadTree(path); }), reason.isEmpty());
    QTest::qWait(0);
    QCoreApplication::processEvents();
    model.applyPendingEvents();
    QCOMPARE(shapeOf(model, {}), shape);
    if (reason.isEmpty()) {
      QVERIFY(rig.recorder.events.isEmpty());
    } else {
      QCOMPARE(rig.recorder.events.size(), 1);
      const QString& error = rig.recorder.events.front();
      QVERIFY2(error.startsWith(QString("error:") + kLoadFailedMessage) && error.contains(reason), qPrintable(error));
    }
    QCOMPARE(rig.recorder.ruleBreaks, 0);
  }

  void noDomainSaysSoAndEnds_data() {
    QTest::addColumn<int>("domains");  // 0: none, 1: one without servers, -1: the listing fails
    QTest::addColumn<bool>("said");
    QTest::newRow("empty network") << 0 << true;
    QTest::newRow("domain listing fails") << -1 << true;
    QTest::newRow("a domain without servers") << 1 << false;
  }
  void noDomainSaysSoAndEnds() {
    QFETCH(int, domains);
    QFETCH(bool, said);
    Rig rig;
    if (domains == 1) rig.network.addDomain("EMPTY");
    if (domains < 0) {
      BrowseReply failed;
      failed.status = BrowseStatus::Failure;
      failed.failureCode = ETIMEDOUT;
      rig.network.scriptDomains(failed);
    }
    QVERIFY(rig.call([](SessionBackend& b) { return b.startDiscovery(); }));
    QTRY_COMPARE(rig.recorder.count("discoveryFinished"), 1);
    const QString noDomain = QString("error:") + kNoDomainMessage;
    QCOMPARE(rig.recorder.count(noDomain), said ? 1 : 0);
    if (said) QVERIFY(rig.recorder.events.indexOf(noDomain) < rig.recorder.events.indexOf("discoveryFinished"));
    QCOMPARE(rig.recorder.ruleBreaks, 0);
  }

  void discoverRefusedWhileBusy_data() {
    QTest::addColumn<bool>("searching");
    QTest::newRow("discovery runs") << false;
    QTest::newRow("search runs") << true;
  }
  void discoverRefusedWhileBusy() {
    QFETCH(bool, searching);
    Rig rig;
    Gate gate;
    rig.holdAt(gate);
    int runs = 0;  // a new run of password answers per started piece of work, none per refusal
    rig.backend.setRunStart([&] { ++runs; });
    QVERIFY(rig.start(searching ? 1 : 0));
    gate.waitForWaiters(1);

    QVERIFY(!rig.call([](SessionBackend& b) { return b.startDiscovery(); }));
    QTRY_COMPARE(rig.recorder.count(QString("error:") + kBusyMessage), 1);
    // Loading would clear the tree under the workers: refused alike.
    QTemporaryDir dir;
    const std::string saved = writeFile(dir, kGoodTreeFile);
    QVERIFY(!rig.call([&](SessionBackend& b) { return b.loadTree(saved); }));
    QTRY_COMPARE(rig.recorder.count(QString("error:") + kBusyMessage), 2);
    QVERIFY(!holds(rig.backend.tree(), kNoNode, "ZETA"));
    QCOMPARE(runs, 1);

    // Near miss: once the work has ended, loading and Discover start again.
    gate.open();
    QTRY_COMPARE(rig.recorder.count(searching ? "searchFinished" : "discoveryFinished"), 1);
    QVERIFY(rig.call([&](SessionBackend& b) { return b.loadTree(saved); }));
    QVERIFY(rig.call([](SessionBackend& b) { return b.startDiscovery(); }));
    QTRY_COMPARE(rig.recorder.count("discoveryFinished"), searching ? 1 : 2);
    QCOMPARE(rig.recorder.count(QString("error:") + kBusyMessage), 2);
    QCOMPARE(rig.recorder.ruleBreaks, 0);
    QCOMPARE(runs, 2);
  }

  // Guards against rows and the finish of a replaced search that were already queued for the
  // GUI thread reaching the window.
  void replacedSearchDropsItsQueuedEvents() {
    Rig rig;
    rig.shares.addFile("\\\\S1\\docs\\a.txt", 10);
    rig.shares.addFile("\\\\S1\\docs\\b.doc", 20);
    rig.shares.addFolder("\\\\S1\\docs\\locked");
    rig.shares.fail("\\\\S1\\docs\\locked", makeError(ErrorCode::AccessDenied));
    const NodeId node = rig.server("S1", {"docs"});

    rig.call([&](SessionBackend& b) { b.startSearch(node, "*.txt"); return true; });
    rig.executor.waitUntilIdle();  // the first search has ended; all its events wait in the queue
    rig.call([&](SessionBackend& b) { b.startSearch(node, "*.doc"); return true; });
    QTRY_COMPARE(rig.recorder.count("searchFinished"), 1);
    QTest::qWait(0);

    QCOMPARE(rig.recorder.rows, (std::vector<ResultRow>{fileRow("\\\\S1\\docs\\b.doc", 20)}));
    QCOMPARE(rig.recorder.skipped.size(), std::size_t{1});
    QCOMPARE(rig.recorder.skipped.front().path, std::string("\\\\S1\\docs\\locked"));
    QCOMPARE(rig.recorder.ruleBreaks, 0);
  }

  void copyReportsProgressRunsOneAtATimeAndStopsWithoutLeftovers() {
    Rig rig;
    QTemporaryDir dest;
    const std::string file = "\\\\S1\\docs\\big.bin";
    rig.shares.addFile(file, 3 * InMemoryShares::kReadChunk);
    QVERIFY(rig.call([&](SessionBackend& b) { return b.startCopy(file, false, dest.path().toStdString(), false); }));
    QTRY_COMPARE(rig.recorder.count("copyFinished"), 1);
    QVERIFY(rig.recorder.copied && !rig.recorder.copied->error && !rig.recorder.copied->cancelled);
    QCOMPARE(rig.recorder.copied->destination, dest.filePath("big.bin").toStdString());
    QCOMPARE(QFileInfo(dest.filePath("big.bin")).size(), qint64{3 * InMemoryShares::kReadChunk});
    QVERIFY(!rig.recorder.progress.empty());
    QCOMPARE(rig.recorder.progress.front().bytesTotal, std::uint64_t{3 * InMemoryShares::kReadChunk});

    // Held in its second chunk: a second copy is refused, a stop ends the first with nothing left.
    Gate held;
    rig.shares.setReadHook([&](const std::string&, std::uint64_t offset, std::stop_token stop) {
      if (offset > 0) held.wait(stop);
    });
    QVERIFY(rig.call([&](SessionBackend& b) { return b.startCopy(file, false, dest.path().toStdString(), true); }));
    QVERIFY(!rig.call([&](SessionBackend& b) { return b.startCopy(file, false, dest.path().toStdString(), true); }));
    held.waitForWaiters(1);
    rig.call([](SessionBackend& b) { b.stopCopy(); return true; });
    QTRY_COMPARE(rig.recorder.count("copyFinished"), 2);
    QVERIFY(rig.recorder.copied->cancelled);
    QCOMPARE(rig.recorder.count(QString("error:") + kCopyBusyMessage), 1);
    QCOMPARE(QDir(dest.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"big.bin"});

    // A failure comes in words, once.
    QVERIFY(rig.call([&](SessionBackend& b) { return b.startCopy(file, false, dest.path().toStdString(), false); }));
    QTRY_COMPARE(rig.recorder.count("copyFinished"), 3);
    QVERIFY(rig.recorder.copied->error.has_value());
    QVERIFY(QString::fromStdString(*rig.recorder.copied->error).contains("already there"));
    QCOMPARE(rig.recorder.ruleBreaks, 0);
  }

  void shutdownStopsWorkOnASilentHost_data() {
    QTest::addColumn<int>("work");
    QTest::newRow("a discovery asks") << 0;
    QTest::newRow("a search lists") << 1;
    QTest::newRow("a copy reads") << 2;
  }
  void shutdownStopsWorkOnASilentHost() {
    QFETCH(int, work);
    Rig rig;
    QTemporaryDir dest;
    Gate silent;  // never opened: only the stop ends the call
    rig.holdAt(silent);
    QVERIFY(rig.start(work, dest.path().toStdString()));
    silent.waitForWaiters(1);
    const qsizetype before = rig.recorder.events.size();

    rig.call([](SessionBackend& b) { b.shutdown(); return true; });  // hangs if the stop does not reach the call
    QVERIFY(!rig.call([](SessionBackend& b) { return b.startDiscovery(); }));
    QTest::qWait(0);
    QCoreApplication::processEvents();
    QCOMPARE(rig.recorder.events.size(), before);
    QVERIFY(QDir(dest.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::SessionBackendTest)
#include "session_backend_test.moc"
