#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <functional>

struct xcb_connection_t;

// An X server of its own (Xvfb on a free display) for the desktop programs a benchmark starts, and
// a watch on it for top-level windows being mapped. Ends the server when destroyed.
class PrivateDisplay
{
public:
    PrivateDisplay() = default;
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    // Starts Xvfb (its log in workDir) and connects to it. The server runs without the caller's
    // LD_PRELOAD.
    bool start(const QString &workDir);
    QString errorString() const { return m_error; }
    // ":N"
    QString name() const { return m_name; }
    qint64 serverPid() const { return m_server.processId(); }

    // base with DISPLAY pointing here and the X platform of Qt chosen.
    QProcessEnvironment environment(QProcessEnvironment base) const;

    // Waits until a window titled exactly title is mapped, reading the server's events as they come.
    // Returns monotonicNs() of the moment the map was read, or -1 after timeoutMs or as soon as
    // keepWaiting() says false. Mappings that happened before the last call are not seen.
    qint64 waitForWindow(const QString &title, int timeoutMs, const std::function<bool()> &keepWaiting);
    // Forgets the events that arrived so far.
    void drainEvents();

private:
    QString windowTitle(unsigned window);

    QProcess m_server;
    QString m_name;
    QString m_error;
    xcb_connection_t *m_connection = nullptr;
};
