#pragma once

#include <QObject>

// Announces system suspend and resume. The source is systemd-logind's PrepareForSleep(bool) signal
// on the system bus: aboutToSleep() is emitted when a suspend starts, didWakeUp() after resume.
// One process-wide instance, reached through instance().
class SleepListener : public QObject
{
    Q_OBJECT

public:
    static SleepListener *instance();
    ~SleepListener() override;

public slots:
    // Subscribes to the logind signal; false when the system bus cannot be reached.
    bool install();

signals:
    void aboutToSleep();
    void didWakeUp();

private slots:
    void login1_prepareForSleep(bool start);

private:
    explicit SleepListener(QObject *parent = nullptr);

    bool m_installed = false;
};
