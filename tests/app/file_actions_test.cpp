// The window's file actions offscreen: Open file, Open folder, the popup and double-click, and
// Copy file with its folder choice, replace question and progress dialog, against a fake
// backend and a recording desktop.
#include <QAccessible>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <sys/stat.h>

#include "fake_backend.h"
#include "modal_watcher.h"
#include "recording_desktop.h"
#include "app/results/result_model.h"
#include "app/ui/command_ids.h"
#include "app/ui/copy_progress_dlg.h"
#include "app/ui/main_dlg.h"

namespace vuv::app::test {
namespace {

const std::string kFile = "\\\\srv\\share\\dir\\a b.txt";
const std::string kTopFile = "\\\\srv\\share\\a.txt";
const std::string kFolder = "\\\\srv\\share\\dir";

}  // namespace

class FileActionsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<FakeBackend> backend_;
  std::unique_ptr<CMainDlg> window_;
  RecordingDesktop desktop_;
  RecordingChooser chooser_;
  std::unique_ptr<QTemporaryDir> destination_;  // a copy's folder, new for each test

  QTreeView* list() { return window_->findChild<QTreeView*>("resultList"); }
  CopyProgressDlg* progressDialog() { return window_->findChild<CopyProgressDlg*>(); }

  // Shows the rows and selects row `selected` (none when -1).
  void showRows(std::vector<ResultRow> rows, int selected) {
    const int count = window_->resultModel().rowCount() + static_cast<int>(rows.size());
    backend_->events().rows(std::move(rows));
    QTRY_COMPARE(window_->resultModel().rowCount(), count);  // rows reach the list in batches
    if (selected >= 0) list()->setCurrentIndex(window_->resultModel().index(selected, 0));
  }

  QString progressText(const char* name) {
    return progressDialog()->findChild<QLabel*>(name)->text();
  }

 private slots:
  void init() {
    backend_ = std::make_unique<FakeBackend>();
    window_ = std::make_unique<CMainDlg>(*backend_);
    desktop_ = RecordingDesktop{};
    chooser_ = RecordingChooser{};
    window_->setDesktop(desktop_);
    window_->setFileChooser(&chooser_);
    destination_ = std::make_unique<QTemporaryDir>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    window_.reset();
    backend_.reset();
    destination_.reset();
  }

  void withoutASelectedRowEachActionSaysSoAndStartsNothing() {
    showRows({fileRow(kFile, 1)}, -1);
    for (int id : {ID_POPUP_OPEN_FILE, ID_POPUP_OPEN_FOLDER, ID_TB_OPEN_FOLDER,
                   ID_NETWORK_OPEN_FOLDER, ID_POPUP_COPY_FILE, ID_TB_COPY_FILE,
                   ID_NETWORK_SAVE_FILE}) {
      ModalWatcher watcher;
      window_->OnCommand(id);
      QCOMPARE(watcher.boxes.size(), std::size_t{1});
      QCOMPARE(watcher.boxes[0].caption, QString("Error"));
      QCOMPARE(watcher.boxes[0].text, QString("Please, select a file first!"));
      QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
    }
    {
      ModalWatcher watcher;  // a double-click below the last row
      QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {},
                         QPoint(10, list()->viewport()->height() - 5));
      QCOMPARE(watcher.boxes.size(), std::size_t{1});
      QCOMPARE(watcher.boxes[0].text, QString("Please, select a file first!"));
    }
    QVERIFY(desktop_.calls.isEmpty());
    QVERIFY(chooser_.starts.isEmpty());
    QVERIFY(backend_->copies.empty());
  }

  void openFolderShowsTheItemElseOpensItsFolder() {
    struct Case {
      ResultRow row;
      QString itemUrl;
      QString folderUrl;
    };
    const Case cases[] = {
        {fileRow(kFile, 1), "smb://srv/share/dir/a%20b.txt", "smb://srv/share/dir"},
        {fileRow(kTopFile, 1), "smb://srv/share/a.txt", "smb://srv/share"},
        {folderRow(kFolder), "smb://srv/share/dir", "smb://srv/share"},
    };
    for (const Case& c : cases) {
      window_->resultModel().clear();
      showRows({c.row}, 0);
      desktop_.calls.clear();
      desktop_.fileManager = true;
      window_->OnCommand(ID_TB_OPEN_FOLDER);
      QCOMPARE(desktop_.calls, QStringList{"showItem " + c.itemUrl});
      desktop_.calls.clear();
      desktop_.fileManager = false;
      window_->OnCommand(ID_POPUP_OPEN_FOLDER);
      QCOMPARE(desktop_.calls, (QStringList{"showItem " + c.itemUrl, "openUrl " + c.folderUrl}));
    }
    // A fallback that cannot start a program says so.
    desktop_.opens = false;
    ModalWatcher watcher;
    window_->OnCommand(ID_POPUP_OPEN_FOLDER);
    QCOMPARE(watcher.boxes.size(), std::size_t{1});
    QVERIFY(watcher.boxes[0].text.contains("smb://srv/share"));

    // Without a usable backslash nothing happens.
    desktop_.calls.clear();
    window_->resultModel().clear();
    showRows({fileRow("noslash", 1), fileRow("\\name", 1)}, 0);
    window_->OnCommand(ID_TB_OPEN_FOLDER);
    list()->setCurrentIndex(window_->resultModel().index(1, 0));
    window_->OnCommand(ID_TB_OPEN_FOLDER);
    QCOMPARE(watcher.boxes.size(), std::size_t{1});
    QVERIFY(desktop_.calls.isEmpty());
  }

  // A double-click anywhere opens the selected row's folder; a right-click selects the row under
  // the cursor, if any, and shows the popup.
  void doubleClickAndRightClick() {
    showRows({fileRow(kFile, 1), fileRow(kTopFile, 2)}, -1);
    const QRect second = list()->visualRect(window_->resultModel().index(1, 0));
    // A person's double-click: the first press selects, then the double-click.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(desktop_.calls, QStringList{"showItem smb://srv/share/a.txt"});
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {},
                       QPoint(10, list()->viewport()->height() - 5));
    QCOMPARE(desktop_.calls.size(), 2);  // the selected row's folder again, not Open file
    QCOMPARE(desktop_.calls[1], QString("showItem smb://srv/share/a.txt"));

    QWidget* viewport = list()->viewport();
    const QPoint at = list()->visualRect(window_->resultModel().index(0, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    auto* popup = window_->findChild<QMenu*>("filesPopup");
    QTRY_VERIFY(popup->isVisible());
    popup->hide();
    QCOMPARE(list()->currentIndex().row(), 0);
    QVERIFY(list()->selectionModel()->isRowSelected(0));
    // Over the empty area the selection stays.
    const QPoint below(10, viewport->height() - 5);
    QContextMenuEvent empty(QContextMenuEvent::Mouse, below, viewport->mapToGlobal(below));
    QApplication::sendEvent(viewport, &empty);
    QTRY_VERIFY(popup->isVisible());
    popup->hide();
    QVERIFY(list()->selectionModel()->isRowSelected(0));
  }

  // Open file opens the item's URL; when nothing opens smb:// URLs, the file is copied into a
  // private folder and the copy opened.
  void openFileOpensTheUrlElseALocalCopy() {
    showRows({fileRow(kFile, 1), folderRow(kFolder)}, 1);
    window_->OnCommand(ID_POPUP_OPEN_FILE);
    list()->setCurrentIndex(window_->resultModel().index(0, 0));
    window_->OnCommand(ID_POPUP_OPEN_FILE);
    QCOMPARE(desktop_.calls, (QStringList{"openUrl smb://srv/share/dir",
                                          "openUrl smb://srv/share/dir/a%20b.txt"}));
    QVERIFY(backend_->copies.empty());

    desktop_.smbHandler = false;
    desktop_.calls.clear();
    window_->OnCommand(ID_POPUP_OPEN_FILE);
    QCOMPARE(backend_->copies.size(), std::size_t{1});
    const FakeBackend::Copy copy = backend_->copies[0];
    QCOMPARE(copy.item, kFile);
    QVERIFY(!copy.isFolder);
    const QFileInfo folder(QString::fromStdString(copy.folder));
    QVERIFY(folder.isDir());
    const QFileInfo privateFolder(folder.absolutePath());
    QCOMPARE(privateFolder.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    struct stat mode {};
    QCOMPARE(stat(QFile::encodeName(privateFolder.absoluteFilePath()).constData(), &mode), 0);
    QCOMPARE(mode.st_mode & 0777, 0700u);
    QVERIFY(progressDialog() != nullptr);
    QVERIFY(desktop_.calls.isEmpty());

    const QString destination = QDir(folder.absoluteFilePath()).filePath("a b.txt");
    backend_->events().copyFinished(CopyOutcome{false, std::nullopt, destination.toStdString()});
    QVERIFY(progressDialog() == nullptr);
    QCOMPARE(desktop_.calls, QStringList{"openLocalFile " + destination});

    // The next one gets a folder of its own in the same private folder.
    window_->OnCommand(ID_POPUP_OPEN_FILE);
    QCOMPARE(backend_->copies.size(), std::size_t{2});
    QVERIFY(backend_->copies[1].folder != copy.folder);
    QCOMPARE(QFileInfo(QString::fromStdString(backend_->copies[1].folder)).absolutePath(),
             privateFolder.absoluteFilePath());
    backend_->events().copyFinished(CopyOutcome{true, std::nullopt, {}});

    // A folder is not copied to be opened.
    list()->setCurrentIndex(window_->resultModel().index(1, 0));
    ModalWatcher watcher;
    window_->OnCommand(ID_POPUP_OPEN_FILE);
    QCOMPARE(watcher.boxes.size(), std::size_t{1});
    QVERIFY(watcher.boxes[0].text.contains("Copy file to folder..."));
    QCOMPARE(backend_->copies.size(), std::size_t{2});
    QCOMPARE(desktop_.calls.size(), 1);
    QDir(privateFolder.absoluteFilePath()).removeRecursively();
  }

  void copyStartsInDownloadsOrHomeThenInTheLastFolder() {
    showRows({fileRow(kFile, 1)}, 0);
    window_->OnCommand(ID_TB_COPY_FILE);  // cancelled: nothing copied
    QVERIFY(backend_->copies.empty());
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QCOMPARE(chooser_.starts.at(0), QFileInfo(downloads).isDir() ? downloads : QDir::homePath());

    chooser_.answer = destination_->path();
    window_->OnCommand(ID_POPUP_COPY_FILE);
    QCOMPARE(backend_->copies.size(), std::size_t{1});
    QCOMPARE(backend_->copies[0].item, kFile);
    QCOMPARE(backend_->copies[0].folder, destination_->path().toStdString());
    QVERIFY(!backend_->copies[0].replace);
    backend_->events().copyFinished(CopyOutcome{true, std::nullopt, {}});
    window_->OnCommand(ID_NETWORK_SAVE_FILE);
    QCOMPARE(chooser_.starts.at(2), destination_->path());
    backend_->events().copyFinished(CopyOutcome{true, std::nullopt, {}});
  }

  void anExistingNameIsReplacedOnlyWhenTheUserSaysSo() {
    QFile existing(destination_->filePath("a b.txt"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    QVERIFY(QFile::link(destination_->filePath("nowhere"), destination_->filePath("a.txt")));  // dangling
    showRows({fileRow(kFile, 1), fileRow(kTopFile, 1)}, 0);
    chooser_.answer = destination_->path();
    {
      ModalWatcher no(QMessageBox::No);
      window_->OnCommand(ID_TB_COPY_FILE);
      QCOMPARE(no.boxes.size(), std::size_t{1});
      QCOMPARE(no.boxes[0].text, QString("a b.txt already exists in %1: replace?").arg(destination_->path()));
    }
    QVERIFY(backend_->copies.empty());
    for (int row : {0, 1}) {
      list()->setCurrentIndex(window_->resultModel().index(row, 0));
      ModalWatcher yes(QMessageBox::Yes);
      window_->OnCommand(ID_TB_COPY_FILE);
      QCOMPARE(yes.boxes.size(), std::size_t{1});
      QCOMPARE(backend_->copies.size(), std::size_t(row + 1));
      QVERIFY(backend_->copies.back().replace);
      backend_->events().copyFinished(CopyOutcome{true, std::nullopt, {}});
    }
  }

  void progressShowsTheFiguresAndCancelStopsOnce() {
    showRows({folderRow(kFolder)}, 0);
    chooser_.answer = destination_->path();
    window_->OnCommand(ID_TB_COPY_FILE);
    QCOMPARE(backend_->copies.size(), std::size_t{1});
    QVERIFY(backend_->copies[0].isFolder);
    CopyProgressDlg* dialog = progressDialog();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(progressText("copyItem"), QString::fromStdString(kFolder));
    for (QWidget* control : dialog->findChildren<QWidget*>()) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(accessible != nullptr && !accessible->text(QAccessible::Name).isEmpty(),
               qPrintable(control->objectName()));
    }

    backend_->events().copyProgress(CopyProgress{3u << 20, 10u << 20, 12.34 * (1 << 20),
                                                 std::chrono::seconds(3723), kFile});
    QCOMPARE(progressText("copyItem"), QString::fromStdString(kFile));
    QCOMPARE(progressText("copyBytes"), QString("3 Mbytes of 10 Mbytes"));
    QCOMPARE(progressText("copyRate"), QString("12.3 MB/s"));
    QCOMPARE(progressText("copyTimeLeft"), QString("1:02:03"));
    QCOMPARE(dialog->findChild<QProgressBar*>()->value(), 300);
    // Beyond 32 bits, and not yet measured.
    backend_->events().copyProgress(
        CopyProgress{std::uint64_t{3} << 32, std::uint64_t{6} << 32, 0, std::nullopt, {}});
    QCOMPARE(dialog->findChild<QProgressBar*>()->value(), 500);
    QCOMPARE(progressText("copyRate"), QString("Estimating..."));
    QCOMPARE(progressText("copyTimeLeft"), QString("Estimating..."));

    // A second copy while this one runs starts nothing.
    window_->OnCommand(ID_TB_COPY_FILE);
    QCOMPARE(backend_->copies.size(), std::size_t{1});

    auto* cancel = dialog->findChild<QPushButton*>("copyCancel");
    cancel->click();
    cancel->click();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QCOMPARE(backend_->copyStops, 1);
    QVERIFY(dialog->isVisible());  // until the copy has ended
    const QString status = window_->findChild<QLabel*>("statusText")->text();
    ModalWatcher watcher;
    backend_->events().copyFinished(CopyOutcome{true, std::nullopt, {}});
    QVERIFY(progressDialog() == nullptr);
    QTest::qWait(20);
    QVERIFY(watcher.boxes.empty());
    QCOMPARE(window_->findChild<QLabel*>("statusText")->text(), status);
  }

  void theEndIsAStatusLineOrAnErrorBox() {
    showRows({fileRow(kFile, 1)}, 0);
    chooser_.answer = destination_->path();
    window_->OnCommand(ID_TB_COPY_FILE);
    {
      ModalWatcher watcher;
      backend_->events().copyFinished(CopyOutcome{false, "The server refused access.", {}});
      QCOMPARE(watcher.boxes.size(), std::size_t{1});
      QCOMPARE(watcher.boxes[0].caption, QString("Error"));
      QCOMPARE(watcher.boxes[0].text, QString("The server refused access."));
    }
    QVERIFY(progressDialog() == nullptr);
    window_->OnCommand(ID_TB_COPY_FILE);
    const std::string destination = destination_->filePath("a b.txt").toStdString();
    backend_->events().copyFinished(CopyOutcome{false, std::nullopt, destination});
    QCOMPARE(window_->findChild<QLabel*>("statusText")->text(),
             "Copied to " + QString::fromStdString(destination));
    QVERIFY(desktop_.calls.isEmpty());

    backend_->copyStarts = false;  // refused: the backend says why, no dialog
    window_->OnCommand(ID_TB_COPY_FILE);
    QVERIFY(progressDialog() == nullptr);

    // Closing the window during a copy stops it and the dialog goes.
    backend_->copyStarts = true;
    window_->OnCommand(ID_TB_COPY_FILE);
    QVERIFY(progressDialog() != nullptr);
    window_->close();
    QCOMPARE(backend_->shutdowns, 1);
    QVERIFY(progressDialog() == nullptr);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::FileActionsTest)
#include "file_actions_test.moc"
