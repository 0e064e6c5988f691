// The looping "busy" picture shown over the tree while discovery runs: an arc turning around
// a small network sign. It animates only while visible. GUI thread only.
#pragma once

#include <QTimer>
#include <QWidget>

namespace vuv::app {

class BusyAnimation : public QWidget {
  Q_OBJECT

 public:
  explicit BusyAnimation(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QTimer timer_;
  int angle_ = 0;  // degrees
};

}  // namespace vuv::app
