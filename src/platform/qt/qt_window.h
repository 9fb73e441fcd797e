// The Qt layer's window record: what the core's window handle stands for.
#pragma once

#include <QRect>

class QPainter;
class QWidget;

struct PlatformWindow {
  QWidget* widget = nullptr;
  // The painter of the paint event being handled, null outside one.
  QPainter* painter = nullptr;
  // Device pixels per logical pixel of the screen the window is on.
  double device_pixel_ratio = 1.0;
  // While full screen: the geometry and state to come back to, which is
  // also the placement saved meanwhile.
  bool full_screen = false;
  QRect normal_geometry;
  bool normal_maximized = false;
};
