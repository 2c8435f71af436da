#pragma once

#include "qabstractthing.h"

#include <QJsonObject>
#include <QList>

// A device thing under the test's control: a settable state, recorded updates and publications.
class FakeThing : public QAbstractThing
{
    Q_OBJECT

public:
    // A device of version "100".
    FakeThing(const QString &type, const QString &serial, QObject *parent = nullptr)
        : FakeThing(type, QStringLiteral("100"), serial, parent)
    {
    }
    FakeThing(const QString &type, const QString &version, const QString &serial, QObject *parent = nullptr)
        : QAbstractThing(parent), m_type(type), m_version(version), m_serial(serial)
    {
    }

    QString type() const override { return m_type; }
    QString version() const override { return m_version; }
    Class thingClass() const override { return Sibling; }
    QString serial() const override { return m_serial; }
    void applyTypeSettings(const QHash<QString, QVariant> &) override {}
    QJsonObject state() const override { return m_state; }
    bool setState(const QJsonObject &state) override
    {
        updates.append(state);
        if (!acceptUpdates)
            return false;
        m_state = state;
        return true;
    }
    void statePublished() override { ++published; }

    void change(const QJsonObject &state)
    {
        m_state = state;
        emit stateChanged(state);
    }

    QList<QJsonObject> updates;
    int published = 0;
    bool acceptUpdates = true;

private:
    QString m_type, m_version, m_serial;
    QJsonObject m_state;
};
