#pragma once

#include "thing_global.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>

// Base of everything that has a state the gateway shows and reports: attached devices and the
// gateway itself. A thing is identified locally by shortid() and towards the cloud by cloudid().
class THING_EXPORT QAbstractThing : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString regid READ regid WRITE setRegid NOTIFY regidChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool reportChanges READ reportChanges WRITE setReportChanges)

public:
    enum Class { Standalone = 0, Sibling = 1, Gateway = 2 };
    Q_ENUM(Class)

    explicit QAbstractThing(QObject *parent = nullptr);
    ~QAbstractThing() override;

    virtual QString type() const = 0;
    virtual QString version() const = 0;
    virtual Class thingClass() const = 0;
    virtual QString serial() const = 0;

    virtual QString regid() const { return m_regid; }
    virtual bool setRegidFromCid(const QString &cid);
    virtual QString name() const { return m_name; }
    virtual void setName(const QString &name)
    {
        if (name == m_name)
            return;
        m_name = name;
        emit nameChanged(name);
    }
    virtual void setNameNotEmpty(const QString &name)
    {
        if (!name.isEmpty())
            setName(name);
    }
    virtual bool reportChanges() const { return m_reportChanges; }
    virtual void setReportChanges(bool on) { m_reportChanges = on; }
    virtual bool matches(const QString &type, const QString &version, const QString &serial) const
    {
        return this->type() == type && this->version() == version && this->serial() == serial;
    }
    virtual bool matches(const QString &id) const { return id.startsWith(idOf(type(), version(), serial())); }
    virtual void applyTypeSettings(const QHash<QString, QVariant> &settings) = 0;
    virtual QJsonObject state() const = 0;
    virtual bool setState(const QJsonObject &state) = 0;

    void setRegid(const QString &regid);
    // type_version_serial, "?" standing for an empty serial: the thing's key in the pool, the
    // dashboard and backups.
    QString shortid() const;
    // type_version_serial_regid: the thing's identity towards the cloud.
    QString cloudid() const;
    // "type_version_serial" of the parts as given; every short id, pool key and cloud id is built
    // from it.
    static QString idOf(const QString &type, const QString &version, const QString &serial);

public slots:
    virtual void statePublished() = 0;

signals:
    void stateChanged(const QJsonObject &state);
    void regidChanged(const QString &id);
    void nameChanged(const QString &n);
    void mediumGone();
    void serialChanged(const QString &old, const QString &current);

private:
    QString m_regid;
    QString m_name;
    bool m_reportChanges = false;
};
