#pragma once

#include "outbox.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

class ServiceNotifier;

// What tsl-gated tells the service manager about itself: READY once started, then a status line
// with the cloud connection and the reports waiting for it, headed by the registration code while
// a registration waits for the user ("registration code 123456: enter it at https://…/things
// within 300 s"). The code's line also goes to standard output, for the journal.
class ServiceStatus : public QObject
{
    Q_OBJECT

public:
    explicit ServiceStatus(ServiceNotifier *notifier, QObject *parent = nullptr);

    QString text() const;
    // The line a person reads to finish a registration; portal is where the code is entered.
    static QString registrationLine(const QJsonObject &code, const QString &portal);
    // The portal's page for codes, from the settings Web/Cloud and Web/RegPage.
    static QString portalPage();

public slots:
    void setStarted(bool ok);
    void setConnected(bool on);
    void setBacklog(const OutboxBacklog &backlog);
    void showRegistrationCode(const QJsonObject &code);
    void setRegistrationEnded(bool ok);

private:
    void publish();

    ServiceNotifier *m_notifier;
    bool m_started = false;
    bool m_connected = false;
    OutboxBacklog m_backlog;
    QString m_registration;
};
