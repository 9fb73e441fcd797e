// Qt desktop: the main window as one QWidget whose events call the core's
// handlers, the application event filter for the keys, and the desktop_*
// functions. Calls from the worker thread never touch a widget: they are
// posted to a dispatcher object that lives as long as the process and are
// carried out on the window thread, or dropped once the window is gone.
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSessionManager>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qt/qt_display.h"
#include "platform/qt/qt_window.h"
#include "ports/console.h"
#include "ports/desktop.h"
#include "shell/shell.h"
#include "state/settings_block.h"

namespace {

// The state handed back to the core's entry points, and the main window
// while it lives.
AppState* viewer_state = nullptr;
QWidget* live_window = nullptr;

// Events posted to the dispatcher.
enum PostedKind { kPostedTitle, kPostedRepaint, kPostedCommand };

struct PostedEvent : QEvent {
  static QEvent::Type type() {
    static const int registered = QEvent::registerEventType();
    return static_cast<QEvent::Type>(registered);
  }
  PostedEvent(PostedKind kind, std::int32_t command, QByteArray text)
      : QEvent(type()), kind(kind), command(command), text(std::move(text)) {}
  PostedKind kind;
  std::int32_t command;
  QByteArray text;
};

QWidget* live_widget() {
  return live_window;
}

struct Dispatcher : QObject {
  bool event(QEvent* event) override {
    if (event->type() != PostedEvent::type()) return QObject::event(event);
    const auto* posted = static_cast<PostedEvent*>(event);
    QWidget* widget = live_widget();
    if (widget == nullptr) return true;  // the window is gone: dropped
    switch (posted->kind) {
      case kPostedTitle:
        widget->setWindowTitle(QString::fromLocal8Bit(posted->text));
        break;
      case kPostedRepaint:
        widget->update();
        break;
      case kPostedCommand:
        handle_posted_command(*viewer_state, posted->command);
        break;
    }
    return true;
  }
};

// Never destroyed: a late post from the worker always finds it.
Dispatcher* dispatcher = nullptr;

void post(PostedKind kind, std::int32_t command = 0, QByteArray text = {}) {
  if (dispatcher != nullptr) {
    QCoreApplication::postEvent(dispatcher, new PostedEvent(kind, command, std::move(text)));
  }
}

bool on_window_thread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

std::uint32_t modifier_bits(Qt::KeyboardModifiers modifiers) {
  return ((modifiers & Qt::ShiftModifier) != 0 ? kModifierShift : 0) |
         ((modifiers & Qt::ControlModifier) != 0 ? kModifierControl : 0) |
         ((modifiers & Qt::AltModifier) != 0 ? kModifierAlt : 0);
}

// The core's code for a Qt key: letters, digits and F-keys by their ranges,
// the other keys a viewer may bind by name; 0 for the rest.
std::uint32_t key_code(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
    return static_cast<std::uint32_t>(key);  // Qt numbers them as ASCII does
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
    return kKeyF1 + static_cast<std::uint32_t>(key - Qt::Key_F1);
  }
  static const struct {
    int qt;
    std::uint32_t code;
  } named[] = {{Qt::Key_Backspace, kKeyBackspace},
               {Qt::Key_Tab, kKeyTab},
               {Qt::Key_Return, kKeyReturn},
               {Qt::Key_Enter, kKeyReturn},
               {Qt::Key_Escape, kKeyEscape},
               {Qt::Key_Space, kKeySpace},
               {Qt::Key_PageUp, kKeyPageUp},
               {Qt::Key_PageDown, kKeyPageDown},
               {Qt::Key_End, kKeyEnd},
               {Qt::Key_Home, kKeyHome},
               {Qt::Key_Left, kKeyLeft},
               {Qt::Key_Up, kKeyUp},
               {Qt::Key_Right, kKeyRight},
               {Qt::Key_Down, kKeyDown},
               {Qt::Key_Insert, kKeyInsert},
               {Qt::Key_Delete, kKeyDelete},
               {Qt::Key_Menu, kKeyMenu}};
  for (const auto& entry : named) {
    if (entry.qt == key) return entry.code;
  }
  return 0;
}

std::int32_t device(QWidget* widget, int logical) {
  return static_cast<std::int32_t>(std::lround(logical * widget->devicePixelRatioF()));
}

struct ViewerWidget : QWidget {
  PlatformWindow record;

  ViewerWidget() {
    record.widget = this;
    setObjectName("Kestrelo");
    setAcceptDrops(true);
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setWindowIcon(QIcon(":/tessmira.png"));
  }

  void resizeEvent(QResizeEvent*) override {
    record.device_pixel_ratio = devicePixelRatioF();
    handle_resize(*viewer_state, device(this, width()), device(this, height()));
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    record.painter = &painter;
    record.device_pixel_ratio = devicePixelRatioF();
    handle_paint(*viewer_state);
    record.painter = nullptr;
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    const QPointF at = event->position() * devicePixelRatioF();
    handle_mouse_move(*viewer_state, (event->buttons() & Qt::LeftButton) != 0,
                      static_cast<std::int32_t>(at.x()), static_cast<std::int32_t>(at.y()));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      handle_button_up(*viewer_state, modifier_bits(event->modifiers()));
    }
  }
  void wheelEvent(QWheelEvent* event) override {
    const int delta = event->angleDelta().y();
    if (delta == 0 || !handle_wheel(*viewer_state, delta)) event->ignore();
  }
  void contextMenuEvent(QContextMenuEvent* event) override {
    // The menu key arrives as a key press too, which the key table handles.
    if (event->reason() == QContextMenuEvent::Mouse) handle_context_menu(*viewer_state);
  }
  void closeEvent(QCloseEvent* event) override {
    // The window is destroyed only by command 2071, at the end of the handshake.
    event->ignore();
    handle_close(*viewer_state);
  }
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* event) override {
    // The first local file of the drop; the others are ignored.
    for (const QUrl& url : event->mimeData()->urls()) {
      if (!url.isLocalFile()) continue;
      const QByteArray path = QFile::encodeName(url.toLocalFile());
      handle_drop(*viewer_state, path.constData());
      event->acceptProposedAction();
      return;
    }
  }
};

// Sees key presses for the main window before they are delivered; dialogs
// and other windows keep their own keys.
struct KeyFilter : QObject {
  // The last release of a key, which X sends before each of its repeats
  // with the repeat's own time stamp.
  int released_key = 0;
  unsigned long released_at = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    QWidget* widget = live_widget();
    // The press reaches the window and then the widget; act on it once.
    if (widget == nullptr || watched != widget) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyRelease) {
      released_key = key->isAutoRepeat() ? 0 : key->key();
      released_at = key->timestamp();
      return false;
    }
    const std::uint32_t code = key_code(key->key());
    // A held key's repeats are marked, also those Qt did not see as repeats
    // (a press stamped as the key's release before it), and every event
    // carries the window system's stamp, so that the core can tell a repeat
    // that waited.
    const bool repeated =
        key->isAutoRepeat() || (key->key() == released_key && key->timestamp() == released_at);
    released_key = 0;
    const std::uint32_t repeat = repeated ? kModifierRepeat : 0;
    if (code != 0) {
      handle_key(*viewer_state, code, modifier_bits(key->modifiers()) | repeat,
                 static_cast<std::uint32_t>(key->timestamp()));
    }
    return false;
  }
};

// The saved normal rectangle when it can be used as it is: sizes that
// compute without overflow, at least partly on a screen, and no larger than
// the screens it touches together.
bool sane_placement(const WindowPlacement& placement, QRect* rect) {
  const std::int64_t left = placement.normal_left;
  const std::int64_t top = placement.normal_top;
  const std::int64_t width = std::int64_t{placement.normal_right} - left;
  const std::int64_t height = std::int64_t{placement.normal_bottom} - top;
  constexpr std::int64_t kMost = 1 << 24;  // far beyond any screen, far from overflow
  if (width <= 0 || height <= 0 || width > kMost || height > kMost || left < -kMost ||
      left > kMost || top < -kMost || top > kMost) {
    return false;
  }
  const QRect wanted(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width),
                     static_cast<int>(height));
  QRect touched;
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen->geometry().intersects(wanted)) touched = touched.united(screen->geometry());
  }
  if (touched.isEmpty() || wanted.width() > touched.width() || wanted.height() > touched.height()) {
    return false;
  }
  *rect = wanted;
  return true;
}

// Messages Qt gives while it opens the display; a fatal one (no display to
// be had) ends the program with our own plain message instead of an abort.
QtMessageHandler qt_handler = nullptr;
void opening_display(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) return;
  (void)context;
  (void)text;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): only the window thread exists yet
  const char* display = std::getenv("DISPLAY");
  QByteArray message = "tessmira: no display to open the viewer on (";
  message += display != nullptr ? QByteArray("DISPLAY ") + display + " cannot be opened"
                                : QByteArray("the platform cannot be started");
  message += "); without one, run it under a virtual display: xvfb-run -a tessmira IMAGE\n";
  console_error(message.constData());
  std::_Exit(1);
}

// The image decoders (the JPEG, GIF, TIFF and WebP plugins) are loaded here, once, on
// the window thread, and the window's icon is decoded: never for the first
// time on two threads at once, as the worker's first picture and the icon
// shown with the window would otherwise be.
void load_decoders() {
  for (const char* format : {"jpeg", "gif", "bmp", "png", "tiff", "webp"}) {
    QBuffer nothing;
    nothing.open(QIODevice::ReadOnly);
    QImageReader reader(&nothing, format);
    (void)reader.canRead();
  }
  (void)QIcon(":/tessmira.png").pixmap(32, 32);
}

}  // namespace

bool desktop_read_placement(const PlatformWindow* window, WindowPlacement* placement) {
  const QWidget* widget = window->widget;
  if (widget == nullptr) return false;
  // The normal rectangle is the window's geometry in its normal state, also
  // while it is maximised; while full screen, the one it will come back to.
  const QRect normal = window->full_screen                  ? window->normal_geometry
                       : widget->normalGeometry().isValid() ? widget->normalGeometry()
                                                            : widget->geometry();
  *placement = WindowPlacement{};
  placement->length = sizeof(WindowPlacement);
  set_show_state(*placement, window->full_screen ? (window->normal_maximized ? ShowState::maximised
                                                                             : ShowState::normal)
                             : widget->isMinimized() ? ShowState::minimised
                             : widget->isMaximized() ? ShowState::maximised
                                                     : ShowState::normal);
  placement->normal_left = normal.left();
  placement->normal_top = normal.top();
  placement->normal_right = normal.left() + normal.width();
  placement->normal_bottom = normal.top() + normal.height();
  return true;
}

bool desktop_open(int argc, char** argv, char* reason) {
  // Window placement, stay-on-top and the pointer outside the window need X11
  // (XWayland on a Wayland session); a user's own choice is kept.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
      std::strcpy(reason,
                  "no display to open the viewer on (DISPLAY is not set); without one, run it "
                  "under a virtual display: xvfb-run -a tessmira IMAGE");
      return false;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): before the application and any thread exist
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  static int arguments = argc;
  qt_handler = qInstallMessageHandler(opening_display);
  new QApplication(arguments, argv);  // lives as long as the process
  qInstallMessageHandler(qt_handler);
  // So that the desktop matches the window to the installed entry and its icon.
  QGuiApplication::setDesktopFileName("com.brindlex.Tessmira");
  dispatcher = new Dispatcher;
  load_decoders();
  watch_display_profile([] { return viewer_state; });
  qApp->installEventFilter(new KeyFilter);
  // The session manager's quit request is a close request like any other.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, [](QSessionManager&) {
    if (viewer_state != nullptr) handle_session_end(*viewer_state);
  });
  return true;
}

void desktop_screen_size(std::int32_t* width, std::int32_t* height) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize size = screen != nullptr ? screen->size() : QSize(1024, 768);
  *width = size.width();
  *height = size.height();
}

PlatformWindow* desktop_create_window(AppState& state, std::int32_t x, std::int32_t y,
                                      std::int32_t width, std::int32_t height) {
  viewer_state = &state;
  auto* widget = new ViewerWidget;
  widget->setGeometry(x, y, width, height);
  live_window = widget;
  return &widget->record;
}

bool desktop_show_window(PlatformWindow* window, const WindowPlacement* placement,
                         std::uint32_t full_screen) {
  QWidget* widget = window->widget;
  bool used = false;
  QRect normal;
  if (placement != nullptr && sane_placement(*placement, &normal)) {
    widget->setGeometry(normal);
    used = true;
  }
  if (full_screen == 1) {
    window->full_screen = true;
    window->normal_geometry = widget->geometry();
    window->normal_maximized = used && shown_as(*placement, ShowState::maximised);
    // Shown at its own geometry first, so that the window manager has that
    // to come back to.
    widget->show();
    widget->showFullScreen();
  } else if (used && shown_as(*placement, ShowState::maximised)) {
    widget->showMaximized();
  } else if (used && shown_as(*placement, ShowState::minimised)) {
    widget->showMinimized();
  } else {
    widget->show();
  }
  return used;
}

void desktop_run() {
  QApplication::exec();
}

void desktop_destroy_window(PlatformWindow* window) {
  if (window == nullptr) return;
  QWidget* widget = window->widget;
  live_window = nullptr;
  widget->hide();
  widget->deleteLater();
  QCoreApplication::quit();
}

void desktop_set_title(PlatformWindow* window, const char* title) {
  if (window == nullptr) return;
  if (on_window_thread()) {
    if (QWidget* widget = live_widget()) widget->setWindowTitle(QString::fromLocal8Bit(title));
    return;
  }
  post(kPostedTitle, 0, QByteArray(title));
}

void desktop_request_repaint(PlatformWindow*) {
  post(kPostedRepaint);
}

void desktop_post_command(PlatformWindow*, std::int32_t command) {
  post(kPostedCommand, command);
}

void desktop_set_opacity(PlatformWindow* window, std::uint32_t alpha) {
  if (window != nullptr) window->widget->setWindowOpacity(alpha / 255.0);
}

void desktop_set_topmost(PlatformWindow* window, std::uint32_t on_top) {
  if (window == nullptr) return;
  QWidget* widget = window->widget;
  Qt::WindowFlags flags = widget->windowFlags();
  if (flags.testFlag(Qt::WindowStaysOnTopHint) == (on_top == 1)) return;
  flags.setFlag(Qt::WindowStaysOnTopHint, on_top == 1);
  // Changed on the native window as it is: setting the widget's flags would
  // recreate the window, which then lands off by its frame.
  widget->overrideWindowFlags(flags);
  if (QWindow* native = widget->windowHandle()) native->setFlags(flags);
}

void desktop_set_full_screen(PlatformWindow* window, std::uint32_t full_screen) {
  if (window == nullptr) return;
  QWidget* widget = window->widget;
  if (full_screen == 1) {
    if (!window->full_screen) {
      window->full_screen = true;
      window->normal_maximized = widget->isMaximized();
      window->normal_geometry =
          widget->isMaximized() ? widget->normalGeometry() : widget->geometry();
    }
    widget->showFullScreen();
    return;
  }
  if (!window->full_screen) return;
  window->full_screen = false;
  // Exactly the geometry and state it had before.
  widget->showNormal();
  widget->setGeometry(window->normal_geometry);
  if (window->normal_maximized) widget->showMaximized();
}
