// koravex-test-sni-host: a tray host and notification service for the end-to-end tests,
// and the user's side of such a host (click the item, pick a menu entry).
//   serve DIR [watcher] [notifications]   serve until killed; DIR/items, DIR/notify.log,
//                                         DIR/ready once the names are taken
//   activate                              left click on the first registered item
//   menu LABEL                            choose the item's menu entry LABEL
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <cstdio>

#include "host_services.h"

namespace {

constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";

int serve(const QStringList& args) {
    const QString dir = args.value(2);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (dir.isEmpty() || !bus.isConnected()) {
        std::fprintf(stderr, "serve needs a directory and a session bus\n");
        return 2;
    }
    auto* watcher = new StatusNotifierWatcher(dir + QStringLiteral("/items"));
    auto* notifications = new NotificationService(dir + QStringLiteral("/notify.log"));
    if (args.contains(QStringLiteral("watcher"))) {
        if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllSignals |
                                    QDBusConnection::ExportAllProperties) ||
            !bus.registerService(QString::fromLatin1(kWatcher))) {
            std::fprintf(stderr, "cannot claim the watcher\n");
            return 1;
        }
    }
    if (args.contains(QStringLiteral("notifications"))) {
        if (!bus.registerObject(
                QStringLiteral("/org/freedesktop/Notifications"), notifications,
                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
            !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
            std::fprintf(stderr, "cannot claim the notification service\n");
            return 1;
        }
    }
    QFile ready(dir + QStringLiteral("/ready"));
    if (!ready.open(QIODevice::WriteOnly)) {
        return 1;
    }
    ready.close();
    return QCoreApplication::exec();
}

// The first registered item as bus name and object path.
bool firstItem(QString& service, QString& path) {
    QDBusInterface props(QString::fromLatin1(kWatcher), QStringLiteral("/StatusNotifierWatcher"),
                         QStringLiteral("org.freedesktop.DBus.Properties"));
    const QDBusReply<QDBusVariant> reply =
        props.call(QStringLiteral("Get"), QString::fromLatin1(kWatcher),
                   QStringLiteral("RegisteredStatusNotifierItems"));
    const QStringList items =
        reply.isValid() ? reply.value().variant().toStringList() : QStringList{};
    if (items.isEmpty()) {
        std::fprintf(stderr, "no registered item\n");
        return false;
    }
    const QString item = items.front();
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    service = slash < 0 ? item : item.left(slash);
    path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
    return true;
}

int activate() {
    QString service;
    QString path;
    if (!firstItem(service, path)) {
        return 1;
    }
    QDBusInterface item(service, path, QStringLiteral("org.kde.StatusNotifierItem"));
    const QDBusMessage reply = item.call(QStringLiteral("Activate"), 0, 0);
    return reply.type() == QDBusMessage::ErrorMessage ? 1 : 0;
}

QString plainLabel(QString label) {
    label.remove(QLatin1Char('&'));
    label.remove(QLatin1Char('_'));
    return label;
}

// Walks a com.canonical.dbusmenu layout (ia{sv}av) for the entry labelled `wanted`.
int findEntry(const QDBusArgument& arg, const QString& wanted) {
    int id = 0;
    QVariantMap properties;
    arg.beginStructure();
    arg >> id >> properties;
    int found =
        plainLabel(properties.value(QStringLiteral("label")).toString()) == wanted ? id : -1;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        if (found < 0) {
            const auto childArg = child.variant().value<QDBusArgument>();
            found = findEntry(childArg, wanted);
        }
    }
    arg.endArray();
    arg.endStructure();
    return found;
}

int chooseMenuEntry(const QString& label) {
    QString service;
    QString path;
    if (!firstItem(service, path)) {
        return 1;
    }
    QDBusInterface props(service, path, QStringLiteral("org.freedesktop.DBus.Properties"));
    const QDBusReply<QDBusVariant> menuPath =
        props.call(QStringLiteral("Get"), QStringLiteral("org.kde.StatusNotifierItem"),
                   QStringLiteral("Menu"));
    if (!menuPath.isValid()) {
        std::fprintf(stderr, "the item exports no menu\n");
        return 1;
    }
    const QString menu = menuPath.value().variant().value<QDBusObjectPath>().path();
    QDBusInterface dbusmenu(service, menu, QStringLiteral("com.canonical.dbusmenu"));
    const QDBusMessage layout = dbusmenu.call(QStringLiteral("GetLayout"), 0, -1, QStringList{});
    if (layout.type() == QDBusMessage::ErrorMessage || layout.arguments().size() < 2) {
        std::fprintf(stderr, "GetLayout failed\n");
        return 1;
    }
    const int id = findEntry(layout.arguments().at(1).value<QDBusArgument>(), label);
    if (id < 0) {
        std::fprintf(stderr, "no menu entry %s\n", qPrintable(label));
        return 1;
    }
    const QDBusMessage reply = dbusmenu.call(QStringLiteral("Event"), id, QStringLiteral("clicked"),
                                             QVariant::fromValue(QDBusVariant(0)), 0u);
    return reply.type() == QDBusMessage::ErrorMessage ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("serve")) {
        return serve(args);
    }
    if (mode == QLatin1String("activate")) {
        return activate();
    }
    if (mode == QLatin1String("menu") && args.size() == 3) {
        return chooseMenuEntry(args.at(2));
    }
    std::fprintf(stderr, "usage: %s serve DIR [watcher] [notifications] | activate | menu LABEL\n",
                 argv[0]);
    return 2;
}
