#include "host_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>

namespace {

void appendLine(const QString& path, const QString& line) {
    QFile file(path);
    if (file.open(QIODevice::Append | QIODevice::WriteOnly)) {
        file.write(line.toUtf8() + '\n');
    }
}

QString escaped(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('|'), QStringLiteral("\\|"));
    return text;
}

}  // namespace

void StatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service) {
    // An item may register by path only; then its bus name is the caller's.
    const QString item =
        service.startsWith(QLatin1Char('/')) ? message().service() + service : service;
    if (!items_.contains(item)) {
        items_.append(item);
        appendLine(logPath_, item);
        emit StatusNotifierItemRegistered(item);
    }
}

void StatusNotifierWatcher::RegisterStatusNotifierHost(const QString&) {
    emit StatusNotifierHostRegistered();
}

QString notifyLogLine(const QString& appName, uint replacesId, const QString& appIcon,
                      const QString& summary, const QString& body, int timeout, int urgency) {
    return QStringList{
        escaped(appName), QString::number(replacesId), escaped(appIcon),        escaped(summary),
        escaped(body),    QString::number(timeout),    QString::number(urgency)}
        .join(QLatin1Char('|'));
}

uint NotificationService::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                                 const QString& summary, const QString& body,
                                 const QStringList& actions, const QVariantMap& hints,
                                 int timeout) {
    Q_UNUSED(actions);
    const int urgency = hints.contains(QStringLiteral("urgency"))
                            ? hints.value(QStringLiteral("urgency")).toInt()
                            : -1;
    appendLine(logPath_,
               notifyLogLine(appName, replacesId, appIcon, summary, body, timeout, urgency));
    return replacesId != 0 ? replacesId : ++lastId_;
}

QStringList NotificationService::GetCapabilities() {
    return {QStringLiteral("body"), QStringLiteral("icon-static")};
}

QString NotificationService::GetServerInformation(QString& vendor, QString& version,
                                                  QString& specVersion) {
    vendor = QStringLiteral("koravex-tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("koravex-test-notifications");
}

void NotificationService::CloseNotification(uint id) {
    emit NotificationClosed(id, 3);
}
