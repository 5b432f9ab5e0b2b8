#pragma once
// Test stand-ins for a desktop's tray host and notification daemon, served on the session
// bus: org.kde.StatusNotifierWatcher (claiming that a host is registered) and
// org.freedesktop.Notifications (recording every Notify call to a file).
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class StatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  public:
    explicit StatusNotifierWatcher(QString logPath) : logPath_(std::move(logPath)) {}
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }

  public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

  signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

  private:
    QString logPath_;
    QStringList items_;
};

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    explicit NotificationService(QString logPath) : logPath_(std::move(logPath)) {}

  public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout);
    QStringList GetCapabilities();
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);
    void CloseNotification(uint id);

  signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);

  private:
    QString logPath_;
    uint lastId_ = 0;
};

// One Notify call as a log line: app|replaces|icon|summary|body|timeout|urgency, with
// backslash, newline and '|' escaped.
QString notifyLogLine(const QString& appName, uint replacesId, const QString& appIcon,
                      const QString& summary, const QString& body, int timeout, int urgency);
