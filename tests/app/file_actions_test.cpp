// The window's file actions offscreen: Open file, Open folder, the popup and double-click, and
// Copy file with its folder choice, replace question and progress dialog, against a fake
// backend and a recording desktop.
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "app/ui/copy_progress_dlg.h"
#include "window_rig.h"

namespace vuv::app::test {
namespace {

const std::string kFile = "\\\\srv\\share\\dir\\a b.txt";
const std::string kTopFile = "\\\\srv\\share\\a.txt";
const std::string kFolder = "\\\\srv\\share\\dir";

}  // namespace

class FileActionsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<WindowRig> rig_;
  std::unique_ptr<QTemporaryDir> destination_;  // a copy's folder, new for each test

  CopyProgressDlg* progressDialog() { return rig_->window.findChild<CopyProgressDlg*>(); }
  void selectRow(int row) { rig_->list()->setCurrentIndex(rig_->list()->model()->index(row, 0)); }
  void finishCopy(bool cancelled = true) { rig_->fake.events().copyFinished(CopyOutcome{cancelled, std::nullopt, {}}); }

 private slots:
  void init() {
    rig_ = std::make_unique<WindowRig>();
    destination_ = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    rig_.reset();
    destination_.reset();
  }

  void withoutASelectedRowEachActionSaysSoAndStartsNothing() {
    rig_->showRows({fileRow(kFile, 1)});
    for (const char* action : {"openFile", "openFolder", "copyFile"}) {
      rig_->trigger(action);
      QCOMPARE(takeBoxes(&rig_->window).size(), std::size_t{1});
    }
    // A double-click below the last row.
    QTest::mouseDClick(rig_->list()->viewport(), Qt::LeftButton, {}, QPoint(10, rig_->list()->viewport()->height() - 5));
    QCOMPARE(takeBoxes(&rig_->window).size(), std::size_t{1});
    QVERIFY(rig_->desktop.calls.isEmpty() && rig_->chooser.requests.empty() && rig_->fake.copies.empty());
  }

  // The URLs are the backend's (a server known by its address only is named by it).
  void openFolderShowsTheItemElseOpensItsFolder() {
    const struct {
      ResultRow row;
      QString itemUrl, folderUrl;
    } cases[] = {
        {fileRow(kFile, 1), "smb://10.0.0.7/share/dir/a%20b.txt", "smb://10.0.0.7/share/dir"},
        {fileRow(kTopFile, 1), "smb://10.0.0.7/share/a.txt", "smb://10.0.0.7/share"},
        {folderRow(kFolder), "smb://10.0.0.7/share/dir", "smb://10.0.0.7/share"},
        {fileRow("\\\\other\\s\\x", 1), "smb://other/s/x", "smb://other/s"},
    };
    for (const auto& c : cases) {
      rig_->showRows({c.row}, rig_->list()->model()->rowCount());
      rig_->desktop.calls.clear();
      rig_->desktop.fileManager = true;
      rig_->trigger("openFolder");
      QCOMPARE(rig_->desktop.calls, QStringList{"showItem " + c.itemUrl});
      rig_->desktop.calls.clear();
      rig_->desktop.fileManager = false;
      rig_->trigger("openFolder");
      QCOMPARE(rig_->desktop.calls, (QStringList{"showItem " + c.itemUrl, "openUrl " + c.folderUrl}));
    }
    // A fallback that cannot start a program says so.
    rig_->desktop.opens = false;
    rig_->trigger("openFolder");
    const std::vector<SeenBox> boxes = takeBoxes(&rig_->window);
    QVERIFY(boxes.size() == 1 && boxes[0].text.contains("smb://other/s"));
    // Without a usable backslash nothing happens.
    rig_->desktop.calls.clear();
    rig_->showRows({fileRow("noslash", 1), fileRow("\\name", 1)}, 4);
    rig_->trigger("openFolder");
    selectRow(5);
    rig_->trigger("openFolder");
    QVERIFY(takeBoxes(&rig_->window).empty() && rig_->desktop.calls.isEmpty());
  }

  // A double-click anywhere opens the selected row's folder; a right-click selects the row under
  // the cursor, if any, and shows the popup.
  void doubleClickAndRightClick() {
    rig_->showRows({fileRow(kFile, 1), fileRow(kTopFile, 2)});
    QWidget* viewport = rig_->list()->viewport();
    const QPoint second = rig_->list()->visualRect(rig_->list()->model()->index(1, 0)).center();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second);  // a person's: the press selects first
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, second);
    const QPoint below(10, viewport->height() - 5);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, below);
    QCOMPARE(rig_->desktop.calls, QStringList(2, "showItem smb://10.0.0.7/share/a.txt"));

    auto* popup = rig_->child<QMenu>("filesPopup");
    for (const QPoint& at : {rig_->list()->visualRect(rig_->list()->model()->index(0, 0)).center(), below}) {
      QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
      QApplication::sendEvent(viewport, &event);
      QTRY_VERIFY(popup->isVisible());
      popup->hide();
      QVERIFY(rig_->list()->selectionModel()->isRowSelected(0));  // over the empty area it stays
    }
  }

  // Open file opens the item's URL; when nothing opens smb:// URLs, the file is copied into a
  // private folder and the copy opened.
  void openFileOpensTheUrlElseALocalCopy() {
    rig_->showRows({fileRow(kFile, 1), folderRow(kFolder)}, 1);
    rig_->trigger("openFile");
    selectRow(0);
    rig_->trigger("openFile");
    QCOMPARE(rig_->desktop.calls,
             (QStringList{"openUrl smb://10.0.0.7/share/dir", "openUrl smb://10.0.0.7/share/dir/a%20b.txt"}));
    QVERIFY(rig_->fake.copies.empty());

    rig_->desktop.smbHandler = false;
    rig_->desktop.calls.clear();
    rig_->trigger("openFile");
    QCOMPARE(rig_->fake.copies.size(), std::size_t{1});
    const FakeBackend::Copy copy = rig_->fake.copies[0];
    QVERIFY(copy.item == kFile && !copy.isFolder && progressDialog() != nullptr);
    const QFileInfo folder(QString::fromStdString(copy.folder));
    const QString privateFolder = folder.absolutePath();
    QCOMPARE(QFileInfo(privateFolder).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    struct stat mode {};
    QCOMPARE(stat(QFile::encodeName(privateFolder).constData(), &mode), 0);
    QCOMPARE(mode.st_mode & 0777, 0700u);

    const QString destination = QDir(folder.absoluteFilePath()).filePath("a b.txt");
    rig_->fake.events().copyFinished(CopyOutcome{false, std::nullopt, destination.toStdString()});
    QVERIFY(progressDialog() == nullptr);
    QCOMPARE(rig_->desktop.calls, QStringList{"openLocalFile " + destination});

    // The next one gets a folder of its own in the same private folder.
    rig_->trigger("openFile");
    QCOMPARE(rig_->fake.copies.size(), std::size_t{2});
    QVERIFY(rig_->fake.copies[1].folder != copy.folder);
    QCOMPARE(QFileInfo(QString::fromStdString(rig_->fake.copies[1].folder)).absolutePath(), privateFolder);
    finishCopy();

    // A folder is not copied to be opened: a notice says what to do instead.
    selectRow(1);
    rig_->trigger("openFile");
    QCOMPARE(takeBoxes(&rig_->window).size(), std::size_t{1});
    QCOMPARE(rig_->fake.copies.size(), std::size_t{2});
    QDir(privateFolder).removeRecursively();
  }

  // The folder question starts in Downloads (else home), then where the last copy went; an
  // existing name (also a dangling link) is replaced only when the user says so.
  void copyAsksForAFolderAndBeforeReplacing() {
    writeFile(destination_->filePath("a b.txt"), "");
    QVERIFY(QFile::link(destination_->filePath("nowhere"), destination_->filePath("a.txt")));
    rig_->showRows({fileRow(kFile, 1), fileRow(kTopFile, 1)}, 0);
    rig_->trigger("copyFile");  // cancelled: nothing copied
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QCOMPARE(rig_->chooser.requests.at(0).folder, QFileInfo(downloads).isDir() ? downloads : QDir::homePath());
    QCOMPARE(rig_->chooser.requests.at(0).mode, FileRequest::Mode::Folder);
    rig_->chooser.answers = {destination_->path()};
    rig_->chooser.repeatLast = true;
    {
      ModalWatcher no(QMessageBox::No);
      rig_->trigger("copyFile");
      QCOMPARE(no.boxes.size(), std::size_t{1});
      QVERIFY(no.boxes[0].text.contains("a b.txt") && no.boxes[0].plain);
    }
    QVERIFY(rig_->fake.copies.empty());
    for (int row : {0, 1}) {
      selectRow(row);
      ModalWatcher yes(QMessageBox::Yes);
      rig_->trigger("copyFile");
      QCOMPARE(yes.boxes.size(), std::size_t{1});
      QCOMPARE(rig_->fake.copies.size(), std::size_t(row + 1));
      QVERIFY(rig_->fake.copies.back().replace);
      QCOMPARE(rig_->fake.copies.back().folder, destination_->path().toStdString());
      finishCopy();
    }
    QCOMPARE(rig_->chooser.requests.back().folder, destination_->path());
  }

  // The dialog follows the copy; Cancel stops it once; the end is a status line, an error box or
  // nothing (cancelled), shown without waiting.
  void progressCancelAndTheEnd() {
    rig_->showRows({folderRow(kFolder)}, 0);
    rig_->chooser.answers = {destination_->path()};
    rig_->chooser.repeatLast = true;
    rig_->trigger("copyFile");
    QVERIFY(rig_->fake.copies.at(0).isFolder);
    CopyProgressDlg* dialog = progressDialog();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    auto* bar = dialog->findChild<QProgressBar*>();
    rig_->fake.events().copyProgress(CopyProgress{3u << 20, 10u << 20, 1e6, std::chrono::seconds(3), kFile});
    QCOMPARE(bar->value() * 10, bar->maximum() * 3);
    QVERIFY(dialog->findChild<QLabel*>("copyItem")->text().endsWith("a b.txt"));
    rig_->fake.events().copyProgress(CopyProgress{std::uint64_t{3} << 32, std::uint64_t{6} << 32, 0, std::nullopt, {}});
    QCOMPARE(bar->value() * 2, bar->maximum());  // beyond 32 bits
    rig_->trigger("copyFile");  // a second copy while this one runs starts nothing
    QCOMPARE(rig_->fake.copies.size(), std::size_t{1});
    auto* cancel = dialog->findChild<QPushButton*>("copyCancel");
    cancel->click();
    cancel->click();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QCOMPARE(rig_->fake.copyStops, 1);
    QVERIFY(dialog->isVisible());  // until the copy has ended
    const QString status = rig_->child<QLabel>("statusText")->text();
    finishCopy();
    QVERIFY(progressDialog() == nullptr && takeBoxes(&rig_->window).empty());
    QCOMPARE(rig_->child<QLabel>("statusText")->text(), status);

    rig_->trigger("copyFile");
    rig_->fake.events().copyFinished(CopyOutcome{false, "The server refused access.", {}});
    const std::vector<SeenBox> boxes = takeBoxes(&rig_->window);
    QVERIFY(boxes.size() == 1 && boxes[0].text == "The server refused access." && boxes[0].plain &&
            progressDialog() == nullptr);
    rig_->trigger("copyFile");
    const QString copied = destination_->filePath("dir");
    rig_->fake.events().copyFinished(CopyOutcome{false, std::nullopt, copied.toStdString()});
    QVERIFY(rig_->child<QLabel>("statusText")->text().contains(copied));
    QVERIFY(rig_->desktop.calls.isEmpty());

    rig_->fake.copyStarts = false;  // refused: the backend says why, no dialog
    rig_->trigger("copyFile");
    QVERIFY(progressDialog() == nullptr);
    rig_->fake.copyStarts = true;  // closing the window during a copy stops it and the dialog goes
    rig_->trigger("copyFile");
    rig_->window.close();
    QVERIFY(rig_->fake.shutdowns == 1 && progressDialog() == nullptr);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::FileActionsTest)
#include "file_actions_test.moc"
