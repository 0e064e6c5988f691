#include "app/ui/dialog_units.h"

#include <QFontMetricsF>
#include <cmath>

namespace vuv::app {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  charWidth_ = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength;
  charHeight_ = metrics.height();
}

int DialogUnits::x(int units) const { return static_cast<int>(std::lround(units * charWidth_ / 4)); }
int DialogUnits::y(int units) const { return static_cast<int>(std::lround(units * charHeight_ / 8)); }

QRect DialogUnits::rect(int left, int top, int width, int height) const {
  // Edges are converted, not sizes, so that controls that touch in units touch on screen.
  return QRect(QPoint(x(left), y(top)), QPoint(x(left + width) - 1, y(top + height) - 1));
}

QSize DialogUnits::size(int width, int height) const { return {x(width), y(height)}; }

}  // namespace vuv::app
