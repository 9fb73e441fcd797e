// Desktop notifications on Linux: the freedesktop Notifications service,
// called over the session D-Bus. A switch's run has no application object
// yet, so one is made for the call.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "ports/desktop.h"

bool desktop_notify(const char* title, const char* text) {
  static int argc = 1;
  static char name[] = "tessmira";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) static QCoreApplication application(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  // Application, replaces id, icon, summary, body, actions, hints, timeout
  // (-1: the server's own).
  call << QString("Tessmira") << 0u << QString("tessmira") << QString::fromUtf8(title)
       << QString::fromUtf8(text) << QStringList() << QVariantMap() << -1;
  const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}
