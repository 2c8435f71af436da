#include "privatedisplay.h"

#include "benchstats.h"

#include <QFile>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <poll.h>

PrivateDisplay::~PrivateDisplay()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(2000);
        }
    }
}

bool PrivateDisplay::start(const QString &workDir)
{
    // Xvfb picks a free display and writes its number to the descriptor it is given.
    const QString numberFile = workDir + QStringLiteral("/xvfb-display");
    QFile::remove(numberFile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    m_server.setProcessEnvironment(env);
    m_server.setProgram(QStringLiteral("/bin/sh"));
    m_server.setArguments({QStringLiteral("-c"),
                           QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1024x720x24 -nolisten tcp "
                                          "-noreset 3>\"$1\""),
                           QStringLiteral("sh"), numberFile});
    m_server.setStandardOutputFile(workDir + QStringLiteral("/xvfb.log"));
    m_server.setStandardErrorFile(workDir + QStringLiteral("/xvfb.log"), QIODevice::Append);
    m_server.start();
    if (!m_server.waitForStarted(5000)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
        return false;
    }
    QByteArray number;
    for (int i = 0; i < 200 && !number.endsWith('\n'); ++i) {
        QThread::msleep(50);
        QFile file(numberFile);
        if (file.open(QIODevice::ReadOnly))
            number = file.readAll();
        if (m_server.waitForFinished(0))
            break;
    }
    if (!number.endsWith('\n')) {
        m_error = QStringLiteral("Xvfb did not report its display (see %1/xvfb.log)").arg(workDir);
        return false;
    }
    m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    m_connection = xcb_connect(m_name.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        m_error = QStringLiteral("cannot connect to Xvfb on ") + m_name;
        return false;
    }
    // Every window made a child of the root (a top-level one, without a window manager) is seen.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
    return true;
}

QProcessEnvironment PrivateDisplay::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), m_name);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return base;
}

void PrivateDisplay::drainEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
}

QString PrivateDisplay::windowTitle(unsigned window)
{
    static const char NetWmName[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, sizeof NetWmName - 1, NetWmName), nullptr);
    QString title;
    for (xcb_atom_t property :
         {atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE), xcb_atom_t(XCB_ATOM_WM_NAME)}) {
        if (property == XCB_ATOM_NONE)
            continue;
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, XCB_ATOM_ANY, 0, 256), nullptr);
        if (reply) {
            title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply)),
                                      xcb_get_property_value_length(reply));
            std::free(reply);
        }
        if (!title.isEmpty())
            break;
    }
    std::free(atom);
    return title;
}

qint64 PrivateDisplay::waitForWindow(const QString &title, int timeoutMs,
                                     const std::function<bool()> &keepWaiting)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
    while (monotonicNs() < deadline) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const qint64 seen = monotonicNs();
            const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
            const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
            std::free(event);
            if (mapped && windowTitle(window) == title)
                return seen;
        }
        if (xcb_connection_has_error(m_connection) || (keepWaiting && !keepWaiting()))
            return -1;
        ::poll(&fd, 1, 5);
    }
    return -1;
}
