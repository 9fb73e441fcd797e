// The X display's colour profile: the root window's _ICC_PROFILE property
// (the ICC Profiles in X convention), read when the desktop opens and again
// whenever a colour manager sets or removes it.
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <cstdlib>
#include <vector>

#include "platform/qt/qt_display.h"
#include "ports/picture.h"
#include "shell/shell.h"

namespace {

// Larger than any display profile; a bigger property is not read.
constexpr std::uint32_t kMostProfileWords = 4u << 20;

struct ProfileWatch : QAbstractNativeEventFilter {
  xcb_connection_t* connection = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t atom = 0;
  AppState* (*state)() = nullptr;

  void read() const {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, root, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kMostProfileWords);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (reply != nullptr && reply->format == 8 && reply->bytes_after == 0) {
      const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(reply));
      const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply));
      picture_set_display_profile(size > 0 ? bytes : nullptr, size);
    } else {
      picture_set_display_profile(nullptr, 0);  // none, or not one we can use: sRGB
    }
    std::free(reply);
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
    const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
    if (change->window != root || change->atom != atom) return false;
    read();
    AppState* viewer = state();
    if (viewer != nullptr) handle_display_profile_change(*viewer);
    return false;  // Qt may want the root's other properties' changes too
  }
};

}  // namespace

void watch_display_profile(AppState* (*state)()) {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;  // not X: sRGB
  static ProfileWatch watch;
  watch.connection = x11->connection();
  watch.state = state;
  const xcb_setup_t* setup = xcb_get_setup(watch.connection);
  const xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
  if (screen.rem == 0) return;
  watch.root = screen.data->root;
  const char name[] = "_ICC_PROFILE";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      watch.connection, xcb_intern_atom(watch.connection, 0, sizeof name - 1, name), nullptr);
  if (atom == nullptr) return;
  watch.atom = atom->atom;
  std::free(atom);
  // Property changes on the root, added to what this client already hears.
  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
      watch.connection, xcb_get_window_attributes(watch.connection, watch.root), nullptr);
  const std::uint32_t mask =
      (attributes != nullptr ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
  std::free(attributes);
  xcb_change_window_attributes(watch.connection, watch.root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(watch.connection);
  watch.read();
  qGuiApp->installNativeEventFilter(&watch);
}
