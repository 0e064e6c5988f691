#include "app/ui/busy_animation.h"

#include <QPainter>
#include <QPalette>

namespace vuv::app {
namespace {
constexpr int kFrameMs = 40;
constexpr int kStepDegrees = 12;
constexpr int kArcDegrees = 270;
}  // namespace

BusyAnimation::BusyAnimation(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    angle_ = (angle_ + kStepDegrees) % 360;
    update();
  });
}

void BusyAnimation::showEvent(QShowEvent*) { timer_.start(); }
void BusyAnimation::hideEvent(QHideEvent*) { timer_.stop(); }

void BusyAnimation::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int side = std::min(width(), height()) - 4;
  const QRectF ring((width() - side) / 2.0, (height() - side) / 2.0, side, side);
  const QColor accent = palette().color(QPalette::Highlight);

  QPen track(palette().color(QPalette::Mid), side / 8.0);
  painter.setPen(track);
  painter.drawEllipse(ring);
  QPen arc(accent, side / 8.0, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(arc);
  // Qt angles are in sixteenths of a degree, counter-clockwise; turn clockwise.
  painter.drawArc(ring, -angle_ * 16, kArcDegrees * 16);
}

}  // namespace vuv::app
