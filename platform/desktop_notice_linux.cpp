// SPDX-License-Identifier: BSD-3-Clause
// Notifications on freedesktop systems: org.freedesktop.Notifications on the session bus.
#include "desktop_notice.h"

#include "file_association.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
// A service that does not answer in this time is taken as absent: the program is about to
// end and must not hang on a stuck desktop.
const int kCallTimeoutMs = 3000;

// Whether a session bus has been announced to this process. Without one, connecting would
// let the D-Bus library start a bus daemon of its own for the X display.
bool sessionBusAnnounced() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + "/bus").exists();
}

// Whether a notification service runs now or is started on demand by the bus.
bool serviceAvailable(QDBusConnection& bus) {
    QDBusConnectionInterface* names = bus.interface();
    if (!names) return false;
    if (names->isServiceRegistered(kService)) return true;
    const QDBusReply<QStringList> activatable =
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "ListActivatableNames"),
                 QDBus::Block, kCallTimeoutMs);
    return activatable.isValid() && activatable.value().contains(kService);
}

// Services that announce "body-markup" read the body as a small subset of HTML, so text
// from file names must have its markup characters escaped there.
bool bodyIsMarkup(QDBusConnection& bus) {
    const QDBusReply<QStringList> capabilities =
        bus.call(QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities"),
                 QDBus::Block, kCallTimeoutMs);
    return capabilities.isValid() && capabilities.value().contains("body-markup");
}

} // namespace

namespace platform {

bool showDesktopNotice(const QString& summary, const QString& body) {
    if (!sessionBusAnnounced()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !serviceAvailable(bus)) return false;

    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    // The desktop finds the program's name and icon through its entry.
    const QString entry = desktopEntryName();
    QVariantMap hints;
    hints["desktop-entry"] = entry;
    notify << QString("Brisko Packer") << 0u << entry << summary
           << (bodyIsMarkup(bus) ? body.toHtmlEscaped() : body) << QStringList() << hints << -1;
    const QDBusMessage reply = bus.call(notify, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace platform
