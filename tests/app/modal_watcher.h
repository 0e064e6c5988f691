// Answers the modal boxes a handler opens, so a test can run the handler to its end, and keeps
// what each box said.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <vector>

namespace vuv::app::test {

struct SeenBox {
  QString caption;
  QString text;
  QString details;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class ModalWatcher {
 public:
  // `accept`: press OK (accept) rather than Cancel (reject).
  explicit ModalWatcher(bool accept = true)
      : ModalWatcher(accept ? QMessageBox::Ok : QMessageBox::Cancel) {}
  // Presses `answer` where a box has it (Yes/No questions), else Cancel, else OK.
  explicit ModalWatcher(QMessageBox::StandardButton answer)
      : accept_(answer == QMessageBox::Ok || answer == QMessageBox::Yes) {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      SeenBox seen{dialog->windowTitle(), {}, {}, QMessageBox::NoIcon};
      if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        seen.text = box->text();
        seen.details = box->detailedText();
        seen.icon = box->icon();
        if (box->button(answer) != nullptr) {
          box->button(answer)->click();
        } else if (box->button(QMessageBox::Cancel) != nullptr) {
          box->button(QMessageBox::Cancel)->click();
        } else {
          box->button(QMessageBox::Ok)->click();
        }
      } else {
        accept_ ? dialog->accept() : dialog->reject();
      }
      boxes.push_back(seen);
    });
    timer_.start();
  }

  std::vector<SeenBox> boxes;

 private:
  bool accept_;
  QTimer timer_;
};

}  // namespace vuv::app::test
