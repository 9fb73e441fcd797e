// The Qt layer's window record: what the core's window handle stands for.
#pragma once

class QPainter;
class QWidget;

struct PlatformWindow {
  QWidget* widget = nullptr;
  // The painter of the paint event being handled, null outside one.
  QPainter* painter = nullptr;
  // Device pixels per logical pixel of the screen the window is on.
  double device_pixel_ratio = 1.0;
};
