#include "qcountdownlcd.h"

#include "qmaterialicon.h"

#include <QApplication>
#include <QTimerEvent>

namespace {

// The last seconds of a count are shown in the warning colour.
constexpr int WarningFrom = 15;

} // namespace

QCountDownLCD::QCountDownLCD(QWidget *parent) : QLCDNumber(parent)
{
    setSegmentStyle(QLCDNumber::Filled);
}

QCountDownLCD::~QCountDownLCD() = default;

static void setDigitColor(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    widget->setPalette(pal);
}

void QCountDownLCD::start(int cnt)
{
    stop();
    m_remaining = cnt;
    display(cnt);
    m_timerId = startTimer(1000, Qt::CoarseTimer);
    setDigitColor(this, QMaterialIcon::instance()->color(QMaterialIcon::Success));
}

void QCountDownLCD::stop()
{
    if (m_timerId >= 0) {
        killTimer(m_timerId);
        m_timerId = -1;
    }
    setPalette(QApplication::palette());
}

void QCountDownLCD::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId || m_timerId < 0) {
        QLCDNumber::timerEvent(event);
        return;
    }
    if (m_remaining > 0)
        --m_remaining;
    display(m_remaining);
    if (m_remaining <= WarningFrom)
        setDigitColor(this, QMaterialIcon::instance()->color(QMaterialIcon::Warning));
    if (m_remaining <= 0) {
        // The count is over: the display stays at 0 and the time-out is told once.
        killTimer(m_timerId);
        m_timerId = -1;
        emit timeout();
    }
}
