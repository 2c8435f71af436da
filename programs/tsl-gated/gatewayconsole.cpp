#include "gatewayconsole.h"

#include "qabstractthing.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSequentialIterable>
#include <QSysInfo>

#include <cstdio>

namespace {

QString operationName(int op)
{
    return QString::fromLatin1(QMetaEnum::fromType<CxgatewRunner::Operation>().valueToKey(op));
}

QString describe(const QVariant &result)
{
    switch (int(result.userType())) {
    case QMetaType::QJsonObject:
        return QString::fromUtf8(QJsonDocument(result.toJsonObject()).toJson(QJsonDocument::Compact));
    case QMetaType::QStringList:
        return result.toStringList().join(QLatin1Char(' '));
    case QMetaType::UnknownType:
        return QString();
    default:
        return result.toString();
    }
}

} // namespace

GatewayConsole::GatewayConsole(const Options &options, QObject *parent)
    : QObject(parent), m_options(options), m_startup(&m_host)
{
    connect(&m_host, &RunnerHost::finished, this, &GatewayConsole::runner_finished);
    connect(&m_host, &RunnerHost::thingsChanged, this, [this](const ThingStateList &batch) {
        for (const ThingState &thing : batch)
            runner_thingChanged(thing);
    });
    connect(&m_host, &RunnerHost::historyTrouble, this,
            [](const QString &text) { qWarning("history: %s", qUtf8Printable(text)); });
    connect(&m_host, &RunnerHost::connectivityChanged, this, &GatewayConsole::runner_connectivityChanged);
    connect(&m_host, &RunnerHost::cloudError, this, &GatewayConsole::runner_cloudError);
    connect(&m_host, &RunnerHost::backlogChanged, this, &GatewayConsole::runner_backlogChanged);

    m_rescanTimer.setInterval(qMax(1, m_options.rescanSeconds) * 1000);
    connect(&m_rescanTimer, &QTimer::timeout, this, [this] { m_host.call(&CxgatewRunner::rescan); });
    connect(&m_startup, &GatewayStartup::finished, this, [this](bool ok) {
        if (ok && m_options.registerGateway)
            m_host.call(&CxgatewRunner::generateDoc);
        m_rescanTimer.start();
    });
}

GatewayConsole::~GatewayConsole()
{
    m_host.stop();
}

void GatewayConsole::start()
{
    m_host.start();
    // Before the first scan, so that a device's first reading is reported too.
    if (m_options.reportChanges)
        m_host.call(&CxgatewRunner::setReportChanges, true);
    m_startup.start();
}

void GatewayConsole::runner_finished(int op, const QVariant &result)
{
    if (op == CxgatewRunner::Lsthings) {
        for (const QVariant &item : result.value<QSequentialIterable>())
            runner_thingChanged(item.value<ThingState>());
        return;
    }
    print(QStringLiteral("finished %1 %2").arg(operationName(op), describe(result)));

    switch (op) {
    case CxgatewRunner::Rescan:
        if (!m_started) {
            m_started = true;
            emit started(result.toBool());
        }
        break;
    case CxgatewRunner::AliasFill:
        nameUnnamedThings(result.toStringList());
        m_host.call(&CxgatewRunner::generateDoc);
        break;
    case CxgatewRunner::RegCode:
        m_registrationStarted = true;
        emit registrationCode(result.toJsonObject());
        break;
    case CxgatewRunner::ProcReg: {
        const QJsonObject reply = result.toJsonObject();
        emit registrationEnded(!reply.contains(QStringLiteral("error")));
        break;
    }
    default:
        break;
    }
}

void GatewayConsole::runner_thingChanged(const ThingState &thing)
{
    if (thing.gone) {
        print(QStringLiteral("gone %1").arg(thing.shortid));
        return;
    }
    print(QStringLiteral("thing %1 name=\"%2\" regid=%3 %4")
              .arg(thing.shortid, thing.name, thing.regid.isEmpty() ? QStringLiteral("-") : thing.regid,
                   QString::fromUtf8(QJsonDocument(thing.state).toJson(QJsonDocument::Compact))));
}

void GatewayConsole::runner_connectivityChanged(bool on)
{
    print(QStringLiteral("cloud %1").arg(on ? QStringLiteral("connected") : QStringLiteral("disconnected")));
    emit connectivityChanged(on);
}

void GatewayConsole::runner_cloudError(const QString &text)
{
    print(QStringLiteral("cloud error: %1").arg(text));
}

// The runner announces the outbox at most once a second, when its figures change.
void GatewayConsole::runner_backlogChanged(const OutboxBacklog &backlog)
{
    const qint64 age =
        backlog.isEmpty()
            ? 0
            : qMax<qint64>(0, QDateTime::currentMSecsSinceEpoch() - backlog.oldestQueued) / 1000;
    print(QStringLiteral("backlog waiting=%1 oldest=%2s dropped=%3%4")
              .arg(backlog.waiting)
              .arg(age)
              .arg(backlog.dropped)
              .arg(backlog.memoryOnly ? QStringLiteral(" memory-only") : QString()));
    emit backlogChanged(backlog);
}

void GatewayConsole::nameUnnamedThings(const QStringList &shortids)
{
    // A registration needs a name for every thing; without a user to ask, name the gateway after
    // the host and a device after its type and serial ("thx9 A1B2").
    for (const QString &sid : shortids) {
        const QStringList parts = sid.split(QLatin1Char('_'));
        const QString alias =
            sid.startsWith(QLatin1String("gateway_"))
                ? QStringLiteral("TSL-Gate on %1").arg(QSysInfo::machineHostName())
                : QStringLiteral("%1 %2").arg(parts.value(0), parts.mid(2).join(QLatin1Char('_')));
        m_host.call(&CxgatewRunner::renameThing, sid, alias);
    }
}

void GatewayConsole::print(const QString &line)
{
    const QByteArray text = line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}
