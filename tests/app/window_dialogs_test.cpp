// The window's Add domain dialog and its tree files, offscreen: the dialog's layout and keys,
// what the window does with its answer, Save and Load through a recording file chooser over
// the real backend and files, and the platform file dialog's suffix and overwrite question.
#include <QAccessible>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <deque>
#include <functional>

#include "app/backend/session_backend.h"
#include "app/network/network_tree_model.h"
#include "app/ui/add_domain_dlg.h"
#include "app/ui/command_ids.h"
#include "app/ui/dialog_units.h"
#include "app/ui/file_chooser.h"
#include "app/ui/main_dlg.h"
#include "browse/in_memory_network.h"
#include "browse/in_memory_shares.h"
#include "fake_backend.h"
#include "modal_watcher.h"

namespace vuv::app::test {

namespace {

// Runs `act` on the first modal dialog of type T that opens, once, from the event loop.
template <class T>
class WhenModal {
 public:
  explicit WhenModal(std::function<void(T*)> act) : act_(std::move(act)) {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
        timer_.stop();
        act_(dialog);
      }
    });
    timer_.start();
  }

 private:
  std::function<void(T*)> act_;
  QTimer timer_;
};

// Answers the window's file questions from a list, and keeps what was asked.
class RecordingChooser final : public FileChooser {
 public:
  std::optional<QString> choose(QWidget* parent, const FileRequest& request) override {
    requests.push_back(request);
    parents.push_back(parent);
    if (answers.empty()) return std::nullopt;
    const QString answer = answers.front().value_or(QString());
    const bool cancelled = !answers.front().has_value();
    answers.pop_front();
    if (cancelled) return std::nullopt;
    return answer;
  }
  std::deque<std::optional<QString>> answers;
  std::vector<FileRequest> requests;
  std::vector<QWidget*> parents;
};

QByteArray contentsOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
}

}  // namespace

class WindowDialogsTest : public QObject {
  Q_OBJECT

 private:
  // Runs the Add domain command and lets `answer` work the dialog.
  void addDomain(CMainDlg& window, std::function<void(CAddDomainDlg*)> answer) {
    WhenModal<CAddDomainDlg> when(std::move(answer));
    window.OnCommand(ID_NETWORK_ADD_DOMAIN);
  }

 private slots:
  void addDomainDialogLayoutTabOrderAndFocus() {
    CAddDomainDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(dialog.windowTitle(), QString("New Domain or Workgroup"));
    const DialogUnits du(dialog.font());
    QCOMPARE(dialog.size(), du.size(186, 39));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    auto* ok = dialog.findChild<QPushButton*>("addDomainOk");
    auto* edit = dialog.findChild<QLineEdit*>("domainEdit");
    auto* label = dialog.findChild<QLabel*>("domainLabel");
    QVERIFY(ok && edit && label);
    QCOMPARE(ok->text(), QString("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(label->text(), QString("Input domain name:"));
    QVERIFY(label->alignment() & Qt::AlignLeft);
    QCOMPARE(ok->geometry(), du.rect(129, 17, 50, 14));
    QCOMPARE(edit->geometry(), du.rect(7, 18, 121, 14));
    QCOMPARE(label->geometry(), du.rect(7, 7, 63, 8));
    QVERIFY(dialog.findChildren<QPushButton*>().size() == 1);  // no Cancel
    for (QWidget* control : std::initializer_list<QWidget*>{ok, edit, label}) {
      QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
               qPrintable(control->objectName()));
    }
    // Layout order is tab order; the focus starts on OK.
    QCOMPARE(QApplication::focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ok);
  }

  // Esc, the close box and an empty name add nothing; Enter in the edit is OK, the name is cut
  // at 254 and used as typed.
  void addDomainAnswers() {
    FakeBackend backend;
    CMainDlg window(backend);
    window.show();
    auto* status = window.findChild<QLabel*>("statusText");
    status->setText("Ready");
    addDomain(window, [](CAddDomainDlg* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>("domainEdit");
      QTest::keyClicks(edit, "ALPHA");
      QTest::keyClick(edit, Qt::Key_Escape);
    });
    addDomain(window, [](CAddDomainDlg* dialog) {
      dialog->findChild<QLineEdit*>("domainEdit")->setText("ALPHA");
      dialog->close();  // the close box
    });
    addDomain(window, [](CAddDomainDlg* dialog) {
      QTest::keyClick(dialog->findChild<QPushButton*>("addDomainOk"), Qt::Key_Return);
    });
    QVERIFY(backend.addedDomains.empty());
    QCOMPARE(status->text(), QString("Ready"));

    const QString typed = QString(253, 'x') + "yz" + QString(45, 'w');
    addDomain(window, [&](CAddDomainDlg* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>("domainEdit");
      QTest::keyClicks(edit, typed);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    addDomain(window, [](CAddDomainDlg* dialog) {
      dialog->findChild<QLineEdit*>("domainEdit")->setText(" Lab Net ");
      dialog->findChild<QPushButton*>("addDomainOk")->click();
    });
    QCOMPARE(backend.addedDomains,
             (std::vector<std::string>{std::string(253, 'x') + "y", " Lab Net "}));
    QCOMPARE(status->text(), QString("Retriving information about domain... Please wait."));
  }

  // Without a root nothing is asked; a file that cannot be made says why and leaves nothing.
  void saveErrorsAreCriticalBoxes() {
    FakeBackend backend;
    backend.tree().insertTopLevel("ALPHA", NodeKind::Domain, InsertPosition::Last);  // no root
    CMainDlg window(backend);
    RecordingChooser chooser;
    window.setFileChooser(&chooser);
    QTemporaryDir dir;
    chooser.answers = {dir.filePath("missing/tree.brk")};
    ModalWatcher watcher;
    window.OnCommand(ID_TB_SAVE_TREE);
    QVERIFY(chooser.requests.empty());
    backend.tree().insertTopLevel("MS Windows Network", NodeKind::Root, InsertPosition::Last);
    window.OnCommand(ID_FILE_SAVE_TREE);
    QCOMPARE(watcher.boxes.size(), std::size_t{2});
    for (const SeenBox& box : watcher.boxes) {
      QCOMPARE(box.caption, QString("Error"));
      QCOMPARE(box.icon, QMessageBox::Critical);
    }
    QCOMPARE(watcher.boxes[0].text,
             QString("Nothing to save! Press 'Discover network tree' button to obtain network tree!"));
    QCOMPARE(watcher.boxes[1].text, QString("Can't create file!"));
    QVERIFY2(watcher.boxes[1].details.contains("missing/tree.brk") &&
                 watcher.boxes[1].details.contains("No such file or directory"),
             qPrintable(watcher.boxes[1].details));
    QVERIFY(!QFile::exists(dir.filePath("missing")));
  }

  // The real backend over an in-memory network: discover, save, change the selection, load
  // another file, and the location follows; a cancelled choice and a damaged file change
  // nothing.
  void saveWritesTheTreeAndLoadReplacesItAndTheLocation() {
    InMemoryNetwork network;
    InMemoryShares shares;
    Executor executor{4};
    network.addServer("ZETA", "S2", {"c"});
    network.addServer("ALPHA", "S1", {"a", "b"});
    SessionBackend backend(network, shares, shares, executor);
    CMainDlg window(backend);
    window.show();
    RecordingChooser chooser;
    window.setFileChooser(&chooser);
    QTemporaryDir dir;
    {
      ModalWatcher ok;  // the confirmation, then "Network tree updated"
      window.OnCommand(ID_NETWORK_DISCOVER);
      QTRY_COMPARE(ok.boxes.size(), std::size_t{2});
    }

    const QString saved = dir.filePath("net.brk");
    writeFile(saved, "old contents\n");  // replaced whole
    chooser.answers = {saved};
    window.OnCommand(ID_FILE_SAVE_TREE);
    QCOMPARE(contentsOf(saved), QByteArray("2ALPHA\n1S1\n0a\n0b\n2ZETA\n1S2\n0c\n"));
    const FileRequest& request = chooser.requests.at(0);
    QCOMPARE(request.mode, FileRequest::Mode::Save);
    QCOMPARE(request.filter, QString("Network tree files(*.brk)"));
    QCOMPARE(request.defaultSuffix, QString("brk"));
    QVERIFY(request.confirmOverwrite);
    QCOMPARE(request.folder, QDir::homePath());
    QCOMPARE(chooser.parents.at(0), &window);

    // Pick S1, then load a file of another network: the root becomes the location.
    auto* tree = window.findChild<QTreeView*>("tree");
    window.treeModel().applyPendingEvents();
    tree->expandAll();
    const QModelIndex alpha = window.treeModel().index(0, 0, window.treeModel().index(0, 0));
    tree->setCurrentIndex(window.treeModel().index(0, 0, alpha));
    const QString label = window.findChild<QLabel*>("lookInLabel")->text();
    QCOMPARE(label, QString("Look in: MS Windows Network\\ALPHA\\S1"));
    const QString other = dir.filePath("other.brk");
    writeFile(other, "2LAB\n1FS\n0Private\n");
    chooser.answers = {other, std::nullopt};
    window.OnCommand(ID_TB_LOAD_TREE);
    QCOMPARE(chooser.requests.at(1).mode, FileRequest::Mode::Open);
    QCOMPARE(chooser.requests.at(1).filter, QString("Network tree files(*.brk)"));
    QCOMPARE(chooser.requests.at(1).folder, dir.path());  // remembered from Save
    const NodeId root = backend.tree().root();
    QCOMPARE(window.selectedNode(), root);
    QCOMPARE(backend.tree().text(backend.tree().children(root).at(0)), std::string("LAB"));
    QCOMPARE(window.findChild<QLabel*>("lookInLabel")->text(), label);  // until the next selection

    window.OnCommand(ID_FILE_LOAD_TREE);  // cancelled
    QCOMPARE(backend.tree().root(), root);

    const QString damaged = dir.filePath("damaged.brk");
    writeFile(damaged, "2ALPHA\n1S1\n\nx\n");
    chooser.answers = {damaged};
    ModalWatcher watcher;
    window.OnCommand(ID_FILE_LOAD_TREE);
    QTRY_COMPARE(watcher.boxes.size(), std::size_t{1});
    QCOMPARE(watcher.boxes[0].caption, QString("Error"));
    QVERIFY2(watcher.boxes[0].text.contains("line 4"), qPrintable(watcher.boxes[0].text));
    QCOMPARE(backend.tree().root(), root);
    QCOMPARE(window.selectedNode(), root);
    window.close();
  }

  // The platform dialog (the widget one, offscreen): the suffix is added, and replacing an
  // existing file is asked first.
  void fileDialogAddsTheSuffixAndAsksBeforeReplacing() {
    QTemporaryDir dir;
    DialogFileChooser chooser;
    FileRequest request{FileRequest::Mode::Save, "Save network tree", dir.path(),
                        "Network tree files(*.brk)", "brk", true};
    std::optional<QString> chosen;
    {
      QStringList filters;
      WhenModal<QFileDialog> when([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        dialog->selectFile("tree");
        static_cast<QDialog*>(dialog)->accept();  // the file dialog's own, as its button
      });
      chosen = chooser.choose(nullptr, request);
      QCOMPARE(filters, QStringList{"Network tree files(*.brk)"});
    }
    QCOMPARE(chosen, std::optional<QString>(dir.filePath("tree.brk")));

    writeFile(dir.filePath("tree.brk"), "2A\n");
    for (const bool replace : {false, true}) {
      QString question;
      WhenModal<QMessageBox> answer([&](QMessageBox* box) {
        question = box->text();
        box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
      });
      WhenModal<QFileDialog> when([&](QFileDialog* dialog) {
        dialog->selectFile("tree.brk");
        static_cast<QDialog*>(dialog)->accept();  // asks; a No leaves the dialog open
        if (dialog->isVisible()) dialog->reject();
      });
      chosen = chooser.choose(nullptr, request);
      QVERIFY2(question.contains("tree.brk"), qPrintable(question));
      QCOMPARE(chosen.has_value(), replace);
    }
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::WindowDialogsTest)
#include "window_dialogs_test.moc"
