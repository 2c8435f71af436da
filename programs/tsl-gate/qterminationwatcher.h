#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the event loop when the process receives SIGTERM or SIGINT (a desktop session ending, a
// service manager, Ctrl+C in a terminal), so the program shuts down the way "Exit" does: the window
// goes, the device pool is saved and the devices are released. One instance per process.
class QTerminationWatcher : public QObject
{
    Q_OBJECT

public:
    explicit QTerminationWatcher(QObject *parent = nullptr);
    ~QTerminationWatcher() override;

    // False when the signal handlers could not be installed.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signal);

private slots:
    void pipe_readable();

private:
    QSocketNotifier *m_notifier = nullptr;
};
