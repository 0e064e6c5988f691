// The file actions on a found item: Open file, Open folder (show in the file manager) and Copy
// file, with the copy's progress dialog, the last destination folder and the private folder of
// copies made to be opened where nothing on the desktop opens smb:// URLs.
//
// URLs come from the backend (WindowBackend::desktopUrl), which knows the addresses of servers
// found only by WS-Discovery.
//
// Thread rules: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "app/backend/window_backend.h"
#include "results/result_row.h"

class QTemporaryDir;
class QWidget;

namespace vuv::app {

class CopyProgressDlg;
class DesktopOpener;
class FileChooser;

class FileActions : public QObject {
  Q_OBJECT

 public:
  // `window` parents the dialogs; `backend` must outlive this.
  FileActions(WindowBackend& backend, QWidget* window);
  ~FileActions() override;

  // Where the desktop is reached; must outlive this. Unset: the freedesktop tools.
  void setDesktop(DesktopOpener& desktop) { desktop_ = &desktop; }
  // Asks for Copy file's folder; must outlive this.
  void setFileChooser(FileChooser& chooser) { chooser_ = &chooser; }

  void openFile(const ResultRow& row);
  void openFolder(const ResultRow& row);
  void copyFile(const ResultRow& row);

  // The backend's copy events.
  void copyProgress(const CopyProgress& progress);
  void copyFinished(const CopyOutcome& outcome);
  // The window closes: the backend stopped the copy and sends no end.
  void closing();

 signals:
  // A line for the status bar.
  void status(const QString& text);

 private:
  enum class Purpose { Keep, Open };  // Open: the copy is opened once complete
  DesktopOpener& desktop();
  bool busy();
  QString openCopyFolder();
  void startCopy(const ResultRow& row, const QString& folder, bool replace, Purpose purpose);
  void openUrlOrSay(const QString& url);
  void error(const QString& message);

  WindowBackend& backend_;
  QWidget* window_;
  FileChooser* chooser_ = nullptr;
  DesktopOpener* desktop_ = nullptr;
  std::unique_ptr<DesktopOpener> ownDesktop_;  // made on first use when none was set
  CopyProgressDlg* copyDialog_ = nullptr;      // while a copy runs
  Purpose purpose_ = Purpose::Keep;
  QString lastCopyFolder_;                     // this session's last destination
  // Copies made to be opened: one private folder per session, a numbered folder in it per
  // opening, so equal names never replace a copy still in use.
  std::unique_ptr<QTemporaryDir> openCopies_;
  int openCopyCount_ = 0;
};

}  // namespace vuv::app
