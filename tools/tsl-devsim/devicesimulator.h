#pragma once

#include "simulatedhidbus.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class QTimer;

// The simulator's devices and its line commands. A sensor that was given a temperature keeps
// reporting it once a second, as the real one does, whenever its last report was taken.
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSimulator(QObject *parent = nullptr);

    bool isActive() const { return m_bus.isActive(); }
    QString umockdevDir() const { return m_bus.umockdevDir(); }

    // Runs one command line; returns false for a malformed or failed command with the reason in
    // *error. Output for the user (list, outputs) goes to *out, one entry per line.
    bool execute(const QString &line, QStringList *out, QString *error);

    bool plug(const QString &kind, const QString &serial, const QString &product, QString *error);
    bool setTemperature(const QString &serial, double celsius, QString *error);

signals:
    void quitRequested();

private:
    SimulatedHidDevice *find(const QString &serial, QString *error) const;
    void repeatReadings();

    SimulatedHidBus m_bus;
    QHash<QString, double> m_temperatures; // by serial
    QTimer *m_repeat;
};
