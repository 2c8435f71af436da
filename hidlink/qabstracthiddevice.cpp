#include "qabstracthiddevice.h"

#include <QRegExp>
#include <QTimerEvent>
#include <QVector>

#include <hidapi.h>

namespace {

QString fromWide(const wchar_t *s)
{
    return s ? QString::fromWCharArray(s) : QString();
}

QVector<wchar_t> toWide(const QString &s)
{
    QVector<wchar_t> w(s.size() + 1, 0);
    const int n = s.toWCharArray(w.data());
    w.resize(n + 1);
    w[n] = 0;
    return w;
}

} // namespace

QAbstractHidDevice::QAbstractHidDevice(QObject *parent) : QAbstractThing(parent) {}

QAbstractHidDevice::~QAbstractHidDevice()
{
    closeHandle();
}

QHash<QString, QVariant> QAbstractHidDevice::availableDevices(ushort vid, ushort pid,
                                                              const QString &productPattern)
{
    QRegExp rx;
    if (!productPattern.isEmpty())
        rx.setPattern(productPattern);

    QHash<QString, QVariant> found;
    const QVariant id(uint(vid) << 16 | pid);
    hid_device_info *list = hid_enumerate(vid, pid);
    for (const hid_device_info *d = list; d; d = d->next) {
        const QString serial = fromWide(d->serial_number);
        if (productPattern.isEmpty() || rx.exactMatch(fromWide(d->product_string)))
            found.insert(serial, id);
    }
    hid_free_enumeration(list);
    return found;
}

bool QAbstractHidDevice::open(const QString &serial, const QVariant &id)
{
    closeHandle();
    if (m_timerId > 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    m_serial = serial;

    const uint u = id.toUInt();
    const QVector<wchar_t> wserial = toWide(serial);
    m_handle = hid_open(ushort(u >> 16), ushort(u & 0xFFFF), wserial.constData());
    if (!m_handle)
        return false;
    hid_set_nonblocking(m_handle, 1);
    m_timerId = startTimer(m_interval, Qt::CoarseTimer);
    doPoll();
    return true;
}

void QAbstractHidDevice::setInterval(int ms)
{
    m_interval = ms;
    if (m_timerId > 0) {
        killTimer(m_timerId);
        m_timerId = startTimer(m_interval, Qt::CoarseTimer);
    }
}

int QAbstractHidDevice::get_feature(uchar reportId, uchar *buf)
{
    if (!m_handle)
        return 0;
    uchar *target = buf ? buf : m_input;
    target[0] = reportId;
    std::fill(target + 1, target + sizeof m_input, uchar(0));
    const int n = hid_get_feature_report(m_handle, target, sizeof m_input);
    return n < 0 ? 0 : n;
}

void QAbstractHidDevice::doPoll()
{
    if (!m_handle)
        return;
    const int n = hid_read(m_handle, m_input, sizeof m_input);
    if (n > 0) {
        processReport(m_input, n);
    } else if (n < 0) {
        const QString reason = fromWide(hid_error(m_handle));
        closeHandle();
        emit error(tr("Device communication error: %1").arg(reason));
        emit mediumGone();
    }
}

void QAbstractHidDevice::timerEvent(QTimerEvent *event)
{
    if (m_handle) {
        doPoll();
    } else {
        killTimer(event->timerId());
        m_timerId = -1;
    }
}

void QAbstractHidDevice::closeHandle()
{
    if (m_handle) {
        hid_close(m_handle);
        m_handle = nullptr;
    }
}

int init()
{
    return hid_init();
}

int deinit()
{
    return hid_exit();
}
