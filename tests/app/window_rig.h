// The shared rig of the window tests: the window on a fake backend with a recording desktop and
// file chooser, and the boxes it shows, read at once when it does not wait on them and answered
// from the event loop when it does.
#pragma once

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <deque>
#include <functional>

#include "app/desktop/desktop_opener.h"
#include "app/ui/file_chooser.h"
#include "app/ui/main_dlg.h"
#include "fake_backend.h"

namespace vuv::app::test {

struct SeenBox {
  QString caption, text, details;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool plain = false;  // shown as plain text: a name with markup in it cannot turn into a link
};

inline SeenBox seen(QMessageBox* box) {
  return {box->windowTitle(), box->text(), box->detailedText(), box->icon(), box->textFormat() == Qt::PlainText};
}

// Reads and closes the boxes `window` shows without waiting on them.
inline std::vector<SeenBox> takeBoxes(QWidget* window) {
  std::vector<SeenBox> out;
  for (auto* box : window->findChildren<QMessageBox*>()) {
    if (!box->isVisible()) continue;
    out.push_back(seen(box));
    box->close();
  }
  return out;
}

// Answers every modal dialog from the event loop: a box with `answer` where it has it, else
// Cancel, else OK; another dialog accepted when `answer` is OK or Yes, else rejected.
class ModalWatcher {
 public:
  explicit ModalWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok) {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      auto* box = qobject_cast<QMessageBox*>(dialog);
      boxes.push_back(box != nullptr ? seen(box) : SeenBox{dialog->windowTitle(), {}, {}, QMessageBox::NoIcon});
      if (box == nullptr) return answer == QMessageBox::Ok || answer == QMessageBox::Yes ? dialog->accept() : dialog->reject();
      for (auto button : {answer, QMessageBox::Cancel, QMessageBox::Ok}) {
        if (box->button(button) != nullptr) return box->button(button)->click();
      }
    });
    timer_.start();
  }
  std::vector<SeenBox> boxes;

 private:
  QTimer timer_;
};

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

// Answers the window's file and folder questions from a list (nullopt: cancelled; an empty list
// cancels) and keeps what was asked.
class RecordingChooser final : public FileChooser {
 public:
  std::optional<QString> choose(QWidget*, const FileRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    const bool cancelled = !answers.front().has_value();
    const QString answer = answers.front().value_or(QString());
    if (answers.size() > 1 || !repeatLast) answers.pop_front();
    if (cancelled) return std::nullopt;
    return answer;
  }
  std::deque<std::optional<QString>> answers;
  bool repeatLast = false;  // the last answer serves every later question
  std::vector<FileRequest> requests;
};

class RecordingDesktop final : public DesktopOpener {
 public:
  bool canOpenSmbUrls() override { return smbHandler; }
  bool openUrl(const QString& url) override { return calls << "openUrl " + url, opens; }
  bool openLocalFile(const QString& path) override { return calls << "openLocalFile " + path, opens; }
  void showItem(const QString& url, std::function<void()> fallback) override {
    calls << "showItem " + url;
    if (!fileManager) fallback();
  }
  bool smbHandler = true;   // something opens smb:// URLs
  bool fileManager = true;  // a file manager takes ShowItems
  bool opens = true;        // programs start
  QStringList calls;
};

inline void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
}
inline QByteArray contentsOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The window on a fake backend (or `backend`), shown, with the recording desktop and chooser.
struct WindowRig {
  explicit WindowRig(WindowBackend* backend = nullptr) : window(backend != nullptr ? *backend : fake) {
    window.setDesktop(desktop);
    window.setFileChooser(&chooser);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) qFatal("the window did not show");
  }

  template <typename T = QWidget>
  T* child(const char* name) {
    T* found = window.findChild<T*>(name);
    if (found == nullptr) qFatal("no child %s", name);
    return found;
  }
  void trigger(const char* action) { child<QAction>(action)->trigger(); }
  QTreeView* list() { return child<QTreeView>("resultList"); }
  QTreeView* tree() { return child<QTreeView>("tree"); }

  // Shows the rows and selects row `selected` (none when -1).
  void showRows(std::vector<ResultRow> rows, int selected = -1) {
    const int count = list()->model()->rowCount() + static_cast<int>(rows.size());
    fake.events().rows(std::move(rows));
    if (!QTest::qWaitFor([&] { return list()->model()->rowCount() == count; })) qFatal("rows never shown");
    if (selected >= 0) list()->setCurrentIndex(list()->model()->index(selected, 0));
  }
  // Selects the tree node shown as `text`.
  void select(const QString& text) {
    QModelIndexList found;
    const bool shown = QTest::qWaitFor([&] {  // the model follows the tree from the event loop
      found = tree()->model()->match(tree()->model()->index(0, 0), Qt::DisplayRole, text, 1,
                                     Qt::MatchExactly | Qt::MatchRecursive);
      return !found.isEmpty();
    });
    if (!shown) qFatal("no node %s", qPrintable(text));
    tree()->setCurrentIndex(found.front());
  }

  FakeBackend fake;
  RecordingDesktop desktop;
  RecordingChooser chooser;
  CMainDlg window;
};

}  // namespace vuv::app::test
