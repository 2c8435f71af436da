#include "cloudstatusindicator.h"

#include "qledlabel.h"
#include "qmaterialicon.h"
#include "qstatuslabel.h"

#include <QDateTime>
#include <QLabel>
#include <QStatusBar>

namespace {

QColor roleColor(QMaterialIcon::Color role)
{
    return QMaterialIcon::instance()->color(role);
}

} // namespace

CloudStatusIndicator::CloudStatusIndicator(QStatusBar *bar, const Labels &labels, QObject *parent)
    : QObject(parent), m_led(new QLedLabel(bar)), m_labels(labels),
      m_tip(tr("Cloud connection is not configured"))
{
    m_led->setName(QStringLiteral("gps_off"));
    bar->addPermanentWidget(m_led);
    m_led->setColor(roleColor(QMaterialIcon::Warning));
    m_led->update();
    // Reasons and figures hold device aliases and file paths: never markup.
    m_labels.error->setTextFormat(Qt::PlainText);
    m_labels.backlog->setTextFormat(Qt::PlainText);
    m_ageRefresh.setInterval(1000);
    connect(&m_ageRefresh, &QTimer::timeout, this, &CloudStatusIndicator::refresh);
    refresh();
}

void CloudStatusIndicator::setConnected(bool on)
{
    if (on) {
        m_error.clear();
        m_led->setName(QStringLiteral("gps_fixed"));
        m_led->setColor(roleColor(QMaterialIcon::Success));
        m_tip = tr("Connected to the cloud");
        m_labels.connection->setText(tr("Connected"), roleColor(QMaterialIcon::Success));
    } else {
        m_led->setName(QStringLiteral("gps_not_fixed"));
        m_led->setColor(roleColor(QMaterialIcon::Error));
        m_tip = tr("Disconnected from the cloud");
        m_labels.connection->setText(tr("Disconnected"), roleColor(QMaterialIcon::Warning));
    }
    m_led->update();
    refresh();
}

void CloudStatusIndicator::setError(const QString &text)
{
    m_error = text;
    refresh();
}

void CloudStatusIndicator::setBacklog(const OutboxBacklog &backlog)
{
    m_backlog = backlog;
    if (backlog.isEmpty())
        m_ageRefresh.stop();
    else if (!m_ageRefresh.isActive())
        m_ageRefresh.start();
    refresh();
}

void CloudStatusIndicator::refresh()
{
    const QString backlog = backlogText();
    QStringList tip{m_tip};
    for (const QString &line : {m_error, backlog}) {
        if (!line.isEmpty())
            tip.append(line);
    }
    m_led->setToolTip(tip.join(QLatin1Char('\n')));
    m_labels.connection->setToolTip(m_error);
    m_labels.error->setText(m_error);
    m_labels.error->setVisible(!m_error.isEmpty());
    m_labels.backlog->setText(backlog);
    m_labels.backlog->setVisible(!backlog.isEmpty());
}

QString CloudStatusIndicator::backlogText() const
{
    if (m_backlog.isEmpty())
        return QString();
    const qint64 seconds =
        qMax<qint64>(0, (QDateTime::currentMSecsSinceEpoch() - m_backlog.oldestQueued) / 1000);
    QString age;
    if (seconds < 120)
        age = tr("%1 s").arg(seconds);
    else if (seconds < 2 * 3600)
        age = tr("%1 min").arg(seconds / 60);
    else if (seconds < 2 * 86400)
        age = tr("%1 h").arg(seconds / 3600);
    else
        age = tr("%1 d").arg(seconds / 86400);
    QString text = tr("Reports waiting for the cloud: %1, the oldest for %2").arg(m_backlog.waiting).arg(age);
    if (m_backlog.dropped > 0)
        text += QLatin1String("; ") + tr("dropped: %1").arg(m_backlog.dropped);
    if (m_backlog.memoryOnly)
        text += QLatin1String("; ") + tr("kept in memory only: they are lost if the program ends");
    return text;
}
