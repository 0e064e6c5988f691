// Layout positions are given in dialog units: a quarter of the font's average character width
// across, an eighth of its height down. Converting with the platform font keeps the layout's
// proportions with whatever font the desktop uses. Immutable once built; GUI thread.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace vuv::app {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int x(int units) const;
  int y(int units) const;
  QRect rect(int left, int top, int width, int height) const;
  QSize size(int width, int height) const;

 private:
  double charWidth_;
  double charHeight_;
};

}  // namespace vuv::app
