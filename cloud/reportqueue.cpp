#include "reportqueue.h"

#include "settingskeys.h"

#include <QDateTime>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int BacklogIntervalMs = 1000;
// While connected, reports younger than this are on their way rather than a backlog.
constexpr qint64 InTransitMs = 2000;
// How long a report may wait for its acknowledgement before it goes on disk (see scheduleCommit).
constexpr int ReportCommitMs = 2;
// Acknowledgements leave the outbox's file with the next commit, or after this long: a crash before
// that sends these reports once more, which is harmless.
constexpr int AcknowledgedCommitMs = 100;
// Environment override of where the outbox lives; "memory" keeps it in memory (benchmarks).
constexpr char OutboxVariable[] = "TSL_GATE_OUTBOX";
} // namespace

ReportQueue::ReportQueue(std::function<bool()> connected, QObject *parent)
    : QObject(parent), m_connected(std::move(connected)), m_backlogTimer(new QTimer(this)),
      m_commitTimer(new QTimer(this))
{
    m_backlogTimer->setSingleShot(true);
    m_backlogTimer->setInterval(BacklogIntervalMs);
    connect(m_backlogTimer, &QTimer::timeout, this, &ReportQueue::announceBacklog);
    m_commitTimer->setSingleShot(true);
    connect(m_commitTimer, &QTimer::timeout, this, [this] {
        outbox().commit();
        touched(); // a failing disk moves the outbox to memory
    });
}

ReportQueue::~ReportQueue() = default;

Outbox &ReportQueue::outbox()
{
    if (!m_outbox) {
        m_outbox = std::make_unique<Outbox>();
        applySettings();
        const QString path = qEnvironmentVariable(OutboxVariable, Outbox::defaultPath());
        if (path == QLatin1String("memory"))
            qInfo("The outbox is kept in memory only, as %s asks", OutboxVariable);
        else
            m_outbox->open(path);
        touched();
    }
    return *m_outbox;
}

void ReportQueue::applySettings()
{
    const QSettings settings;
    m_inFlightLimit = Key::CloudInFlight.read(settings).toInt();
    if (!m_outbox)
        return;
    Outbox::Limits limits;
    limits.messages = Key::CloudOutboxMessages.read(settings).toInt();
    limits.bytes = qint64(Key::CloudOutboxMB.read(settings).toInt()) * 1024 * 1024;
    m_outbox->setLimits(limits);
    scheduleCommit();
    touched();
}

OutboxBacklog ReportQueue::backlog()
{
    return outbox().backlog();
}

void ReportQueue::discard()
{
    outbox().clear();
    outbox().commit();
    scheduleCommit();
    // What is in flight stays counted until acknowledged; newer reports have larger ids.
    touched();
}

void ReportQueue::append(const QString &tid, const QByteArray &payload)
{
    outbox().append(tid, payload, QDateTime::currentMSecsSinceEpoch());
    touched();
}

const Outbox::Entry *ReportQueue::nextToSend()
{
    if (int(m_inflight.size()) >= m_inFlightLimit)
        return nullptr;
    return outbox().next(m_lastSent);
}

void ReportQueue::sent(quint16 packet, qint64 id)
{
    m_inflight.push_back({packet, id});
    m_lastSent = id;
}

void ReportQueue::drop(qint64 id)
{
    outbox().drop(id);
    scheduleCommit();
    touched();
}

bool ReportQueue::acknowledged(quint16 packet)
{
    // Acknowledgements may come in any order: each takes out its own report.
    const auto sent = std::find_if(m_inflight.begin(), m_inflight.end(),
                                   [packet](const Sent &s) { return s.packet == packet; });
    if (sent == m_inflight.end())
        return false;
    outbox().remove(sent->id);
    m_inflight.erase(sent);
    scheduleCommit();
    touched();
    return true;
}

void ReportQueue::restart()
{
    m_inflight.clear();
    m_lastSent = 0;
}

void ReportQueue::touched()
{
    if (!m_backlogTimer->isActive())
        m_backlogTimer->start();
}

// A report goes on disk when it has waited ReportCommitMs, unless the broker acknowledged it
// before: then it never touches the disk. A steady flow of reports is acknowledged well within that
// time and costs no writes at all; a backlog is written in batches. Acknowledgements of stored
// reports wait up to AcknowledgedCommitMs.
void ReportQueue::scheduleCommit()
{
    const Outbox &box = outbox();
    int due = -1;
    if (box.unwritten() > 0) {
        const qint64 age = QDateTime::currentMSecsSinceEpoch() - box.oldestUnwrittenQueued();
        due = int(qBound<qint64>(0, ReportCommitMs - age, ReportCommitMs));
    } else if (box.hasUncommittedChanges()) {
        due = AcknowledgedCommitMs;
    }
    if (due < 0)
        m_commitTimer->stop();
    else if (!m_commitTimer->isActive() || m_commitTimer->remainingTime() > due)
        m_commitTimer->start(due);
}

void ReportQueue::announceBacklog()
{
    OutboxBacklog now = outbox().backlog();
    if (!now.isEmpty()) {
        // Look again while anything waits: the drain moves on, and so does the age of the oldest.
        m_backlogTimer->start();
        if (m_connected() && now.oldestQueued > QDateTime::currentMSecsSinceEpoch() - InTransitMs) {
            now.waiting = 0;
            now.oldestQueued = 0;
        }
    }
    if (now == m_announced)
        return;
    m_announced = now;
    emit backlogChanged(now);
}
