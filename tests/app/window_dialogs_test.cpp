// The window's Add domain dialog and its tree files, offscreen: the dialog's keys and what the
// window does with its answer, Save and Load through the recording file chooser, and the file
// dialog's suffix and overwrite question.
#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/ui/add_domain_dlg.h"
#include "window_rig.h"

namespace vuv::app::test {

class WindowDialogsTest : public QObject {
  Q_OBJECT

 private:
  // Runs the Add domain command and lets `answer` work the dialog.
  static void addDomain(WindowRig& rig, std::function<void(CAddDomainDlg*)> answer) {
    WhenModal<CAddDomainDlg> when(std::move(answer));
    rig.trigger("addDomain");
  }

 private slots:
  // Esc, the close box and an empty name add nothing; Enter in the edit is OK, the name is cut
  // at the edit's length and used as typed.
  void addDomainAnswers() {
    WindowRig rig;
    auto* status = rig.child<QLabel>("statusText");
    status->setText("Ready");
    addDomain(rig, [](CAddDomainDlg* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>("domainEdit");
      QTest::keyClicks(edit, "ALPHA");
      QTest::keyClick(edit, Qt::Key_Escape);
    });
    addDomain(rig, [](CAddDomainDlg* dialog) {
      dialog->findChild<QLineEdit*>("domainEdit")->setText("ALPHA");
      dialog->close();  // the close box
    });
    addDomain(rig, [](CAddDomainDlg* dialog) {
      QTest::keyClick(dialog->findChild<QPushButton*>("addDomainOk"), Qt::Key_Return);
    });
    QVERIFY(rig.fake.addedDomains.empty());
    QCOMPARE(status->text(), QString("Ready"));
    int length = 0;
    addDomain(rig, [&](CAddDomainDlg* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>("domainEdit");
      length = edit->maxLength();
      QTest::keyClicks(edit, QString(length + 40, 'x'));
      QTest::keyClick(edit, Qt::Key_Return);
    });
    addDomain(rig, [](CAddDomainDlg* dialog) {
      dialog->findChild<QLineEdit*>("domainEdit")->setText(" Lab Net ");
      dialog->findChild<QPushButton*>("addDomainOk")->click();
    });
    QCOMPARE(rig.fake.addedDomains, (std::vector<std::string>{std::string(length, 'x'), " Lab Net "}));
    QVERIFY(status->text() != "Ready");
  }

  // Without a root nothing is asked; a file that cannot be made says why and leaves nothing.
  void saveErrorsAreErrorBoxes() {
    WindowRig rig;
    rig.fake.tree().insertTopLevel("ALPHA", NodeKind::Domain, InsertPosition::Last);  // no root
    QTemporaryDir dir;
    rig.chooser.answers = {dir.filePath("missing/tree.brk")};
    rig.trigger("saveTree");
    QVERIFY(rig.chooser.requests.empty());
    QCOMPARE(takeBoxes(&rig.window).size(), std::size_t{1});
    rig.fake.tree().insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
    rig.trigger("saveTree");
    const std::vector<SeenBox> boxes = takeBoxes(&rig.window);
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].icon, QMessageBox::Critical);
    QVERIFY2(boxes[0].details.contains("missing/tree.brk") && boxes[0].details.contains("No such file or directory"),
             qPrintable(boxes[0].details));
    QVERIFY(!QFile::exists(dir.filePath("missing")));
  }

  // Save writes the tree where the user said (replacing a file whole); Load starts where Save
  // went, hands the file to the backend and makes the root the location; a cancel does nothing.
  void saveAndLoadAskForTreeFiles() {
    WindowRig rig;
    NetworkTree& tree = rig.fake.tree();
    const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
    tree.insert(tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted), "S1", NodeKind::Server,
                InsertPosition::Sorted);
    rig.select("S1");
    QTemporaryDir dir;
    const QString saved = dir.filePath("net.brk");
    writeFile(saved, QByteArray(4096, 'o'));
    rig.chooser.answers = {saved, saved, std::nullopt};
    rig.trigger("saveTree");
    const QByteArray written = contentsOf(saved);
    QVERIFY2(written.contains("ALPHA") && written.contains("S1") && !written.contains('o'), written.constData());
    const FileRequest& request = rig.chooser.requests.at(0);
    QVERIFY(request.mode == FileRequest::Mode::Save && request.confirmOverwrite);
    QVERIFY(!request.filter.isEmpty() && !request.defaultSuffix.isEmpty());
    QCOMPARE(request.folder, QDir::homePath());

    rig.trigger("loadTree");
    QCOMPARE(rig.chooser.requests.at(1).mode, FileRequest::Mode::Open);
    QCOMPARE(rig.chooser.requests.at(1).folder, dir.path());
    QCOMPARE(rig.fake.loadedTrees, std::vector<std::string>{saved.toStdString()});
    rig.trigger("loadTree");  // cancelled
    QCOMPARE(rig.fake.loadedTrees.size(), std::size_t{1});
    rig.child<QPushButton>("searchButton")->click();
    QCOMPARE(rig.fake.searches.at(0).node, root);
  }

  // The widget dialog (offscreen has no desktop's own): the suffix is added, and replacing an
  // existing file is asked first.
  void fileDialogAddsTheSuffixAndAsksBeforeReplacing() {
    QTemporaryDir dir;
    DialogFileChooser chooser;
    const FileRequest request{FileRequest::Mode::Save, "Save", dir.path(), "Trees(*.brk)", "brk", true};
    std::optional<QString> chosen;
    {
      WhenModal<QFileDialog> when([&](QFileDialog* dialog) {
        dialog->selectFile("tree");
        static_cast<QDialog*>(dialog)->accept();  // the file dialog's own, as its button
      });
      chosen = chooser.choose(nullptr, request);
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
