#pragma once

#include "qabstractthing.h"

// A thing without hardware whose state {"v": n} counts up once per period, from its own timer on
// the thread it lives on, as a polled device would change.
class SyntheticThing : public QAbstractThing
{
    Q_OBJECT

public:
    static inline const QString TypeName = QStringLiteral("synthetic");
    static inline const QString TypeVersion = QStringLiteral("100");
    static constexpr int DefaultPeriodMs = 1000;

    explicit SyntheticThing(const QString &serial, QObject *parent = nullptr);

    QString type() const override { return TypeName; }
    QString version() const override { return TypeVersion; }
    Class thingClass() const override { return Sibling; }
    QString serial() const override { return m_serial; }
    QJsonObject state() const override;
    // {"v": n} sets the counter; anything else is refused.
    bool setState(const QJsonObject &state) override;
    // "period" in milliseconds (at least 10); restarts the timer.
    void applyTypeSettings(const QHash<QString, QVariant> &settings) override;
    int period() const { return m_period; }

public slots:
    void statePublished() override {}

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    QString m_serial;
    qint64 m_value = 0;
    int m_period = DefaultPeriodMs;
    int m_timer = 0;
};
