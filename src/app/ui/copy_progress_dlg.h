// The progress of a running copy: the item, bytes done of all, rate, time left and Cancel.
// Modal to the window only, shown without a nested event loop: the window keeps drawing and
// the rest of the application keeps running. Cancel (also Esc and the close box) asks once;
// the dialog stays until the copy has ended and the window closes it.
//
// Thread rules: GUI thread only.
#pragma once

#include <QDialog>

#include "app/backend/window_backend.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vuv::app {

class CopyProgressDlg : public QDialog {
  Q_OBJECT

 public:
  // `item`: the UNC path being copied, shown until the first progress names one.
  CopyProgressDlg(const QString& caption, const QString& item, QWidget* parent);

  void setProgress(const CopyProgress& progress);

 signals:
  // The user asked to stop the copy; sent once.
  void cancelRequested();

 public slots:
  void reject() override;  // Esc and the close box cancel rather than close

 private:
  QLabel* m_item = nullptr;
  QProgressBar* m_bar = nullptr;
  QLabel* m_bytes = nullptr;
  QLabel* m_rate = nullptr;
  QLabel* m_timeLeft = nullptr;
  QPushButton* m_cancel = nullptr;
};

// "12.3 MB/s", "512.0 KB/s", "100 bytes/s" (binary units, as the size column).
QString rateText(double bytesPerSecond);
// "0:42", "12:05", "1:02:03".
QString timeLeftText(std::chrono::seconds left);

}  // namespace vuv::app
