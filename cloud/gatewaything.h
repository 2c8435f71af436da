#pragma once

#include "outbox.h"
#include "qabstractthing.h"

#include <QHash>
#include <QJsonObject>
#include <QList>

class CalvexCloudClient;
class QTimer;

// The gateway itself as a thing of the cloud: it owns the MQTT client, keeps the registered devices
// as siblings, reports their states, routes cloud updates to them, and builds and applies the
// registrar's documents.
class GatewayThing : public QAbstractThing
{
    Q_OBJECT
    Q_PROPERTY(int reportInterval READ reportInterval WRITE setReportInterval)
    Q_PROPERTY(int keepAlive READ keepAlive WRITE setKeepAlive)

public:
    static inline const QString TypeName = QStringLiteral("gateway");
    static inline const QString TypeVersion = QStringLiteral("200");

    explicit GatewayThing(QObject *parent = nullptr);
    ~GatewayThing() override;

    QString type() const override { return TypeName; }
    QString version() const override { return TypeVersion; }
    Class thingClass() const override { return Gateway; }
    QString serial() const override;
    QJsonObject state() const override;
    bool setState(const QJsonObject &state) override;
    void applyTypeSettings(const QHash<QString, QVariant> &settings) override;

    int reportInterval() const { return m_reportInterval; }
    void setReportInterval(int seconds);
    int keepAlive() const { return m_keepAlive; }
    void setKeepAlive(int seconds) { m_keepAlive = seconds; }
    // The MQTT keep-alive a connection would use now.
    int brokerKeepAlive() const;

    bool connectToCloud(bool firstrun);
    void disconnectFromCloud();
    bool isConnected() const;

    bool addSibling(QAbstractThing *thing);
    bool removeSibling(const QString &cid);
    bool removeSibling(QAbstractThing *thing);
    bool hasSibling(const QString &cid) const { return m_siblings.contains(cid); }
    int siblingCount() const { return m_siblings.size(); }

    // The registrar's request document: compact JSON, zlib, URL-safe Base64 with padding. Null when
    // a registered gateway has nothing new to register.
    QString registrationDoc(const QList<QAbstractThing *> &things) const;
    bool processRegistration(const QJsonObject &reply, const QList<QAbstractThing *> &things, bool attach);
    // Short ids of the gateway and the things that still lack a name, which registration needs.
    QStringList unnamed(const QList<QAbstractThing *> &things) const;
    // Whether the gateway is registered with every one of the things as its sibling.
    bool registeredWithAll(const QList<QAbstractThing *> &things) const;
    // Whether the cloud id tid is the gateway's own or a present registered thing's.
    bool holdsCloudId(const QString &tid, const QList<QAbstractThing *> &things) const;
    // Voids the identity: registration id, credentials, and the reports still waiting under it.
    void clearRegistration();

    void credentials(QByteArray &cert, QByteArray &key) const;
    bool setCredentials(const QByteArray &cert, const QByteArray &key);

    CalvexCloudClient *client() const { return m_client; }
    // Period of the running report timer in milliseconds, 0 when none runs.
    int reportTimerPeriod() const { return m_reportTimer > 0 ? m_reportInterval * 1000 : 0; }

signals:
    void connectivityChanged(bool on);
    void settingsChanged();
    // The client's outbox figures (see CalvexCloudClient::backlogChanged).
    void backlogChanged(const OutboxBacklog &backlog);

public slots:
    void statePublished() override;
    void reportStates();

protected slots:
    void mqtt_connectivityChanged(bool on);
    void mqtt_messageReceived(const QString &tid, const QByteArray &data);
    void mqtt_messagePublished(const QString &tid);
    void sibling_stateChanged(QAbstractThing *thing, const QJsonObject &value);

protected:
    void timerEvent(QTimerEvent *event) override;

private slots:
    void sibling_destroyed(QObject *object);

private:
    void stopReportTimer();
    void applyBrokerSettings(const QJsonObject &reply);

    int m_reportInterval = 300;
    int m_keepAlive = 300;
    QHash<QString, QAbstractThing *> m_siblings;
    CalvexCloudClient *m_client = nullptr;
    int m_reportTimer = -1;
    bool m_firstReport = false;
    // The one extra report 30 to 70 s after a first connection.
    QTimer *m_firstReportTimer = nullptr;
};
