#include "gatewayconsole.h"

#include "qabstractthing.h"

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

GatewayConsole::GatewayConsole(const Options &options, QObject *parent) : QObject(parent), m_options(options)
{
    m_runner = new CxgatewRunner;
    m_runner->moveToThread(&m_thread);
    connect(m_runner, &CxgatewRunner::finished, this, &GatewayConsole::runner_finished, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::thingChanged, this, &GatewayConsole::runner_thingChanged,
            Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::connectivityChanged, this, &GatewayConsole::runner_connectivityChanged,
            Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::cloudError, this, &GatewayConsole::runner_cloudError,
            Qt::QueuedConnection);
    connect(&m_thread, &QThread::finished, m_runner, &QObject::deleteLater);

    m_rescanTimer.setInterval(qMax(1, m_options.rescanSeconds) * 1000);
    connect(&m_rescanTimer, &QTimer::timeout, this, [this] { request("rescan"); });
}

GatewayConsole::~GatewayConsole()
{
    m_thread.quit();
    m_thread.wait();
}

void GatewayConsole::start()
{
    m_thread.start(QThread::InheritPriority);
    // The start-up chain of the window.
    request("loadPlugins");
    request("listPlugins");
    request("rescan");
    request("listThings");
    request("connectToCloud", Q_ARG(bool, true));
    request("cloudStatus");
    if (m_options.registerGateway)
        request("generateDoc");
    m_rescanTimer.start();
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
        if (m_options.reportChanges)
            flagThingsForImmediateReports();
        break;
    case CxgatewRunner::AliasFill:
        nameUnnamedThings(result.toStringList());
        request("generateDoc");
        break;
    case CxgatewRunner::RegCode:
        m_registrationStarted = true;
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
}

void GatewayConsole::runner_cloudError(const QString &text)
{
    print(QStringLiteral("cloud error: %1").arg(text));
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
        request("renameThing", Q_ARG(QString, sid), Q_ARG(QString, alias));
    }
}

void GatewayConsole::flagThingsForImmediateReports()
{
    QMetaObject::invokeMethod(
        m_runner,
        [runner = m_runner] {
            for (QAbstractThing *thing : runner->things())
                thing->setReportChanges(true);
        },
        Qt::QueuedConnection);
}

void GatewayConsole::print(const QString &line)
{
    const QByteArray text = line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}
