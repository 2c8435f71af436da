#include "devcloudprocess.h"

#include "eventwait.h"
#include "settingskeys.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QUrlQuery>

DevCloudProcess::~DevCloudProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    delete m_process;
}

QString DevCloudProcess::program()
{
    return qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin/tsl-devcloud");
}

bool DevCloudProcess::start(const QString &dataDir, const QStringList &extraArgs, int timeoutMs)
{
    delete m_process;
    m_settings.clear();
    m_stderr.clear();
    m_process = new QProcess;
    // Not under the test's preloads (simulated devices, sanitizer runtime): it needs neither.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    m_process->setProcessEnvironment(env);
    m_process->start(program(), QStringList{QStringLiteral("--data"), dataDir} << extraArgs);
    if (!m_process->waitForStarted(10000))
        return false;
    bool ready = false;
    QByteArray pending;
    waitUntil(
        [&] {
            pending += m_process->readAllStandardOutput();
            int end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending.left(end));
                pending.remove(0, end + 1);
                if (line == QLatin1String("READY"))
                    ready = true;
                const int eq = line.indexOf(QLatin1Char('='));
                if (eq > 0)
                    m_settings.insert(line.left(eq), line.mid(eq + 1));
            }
            return ready || m_process->state() == QProcess::NotRunning;
        },
        timeoutMs);
    return ready;
}

bool DevCloudProcess::stop(int timeoutMs)
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return false;
    m_process->terminate();
    if (!m_process->waitForFinished(timeoutMs)) {
        m_process->kill();
        m_process->waitForFinished(5000);
        return false;
    }
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

void DevCloudProcess::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
}

int DevCloudProcess::waitForExit(int timeoutMs)
{
    if (!m_process || !m_process->waitForFinished(timeoutMs) ||
        m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

qint64 DevCloudProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

bool DevCloudProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString DevCloudProcess::diagnostics() const
{
    if (m_process)
        m_stderr += QString::fromLocal8Bit(m_process->readAllStandardError());
    return m_stderr;
}

void DevCloudProcess::pointGatewayHere() const
{
    QSettings settings;
    for (const char *key :
         {Key::WebRegEndpoint, Key::WebCloud, Key::CloudHost, Key::CloudPort, Key::WebUpdateUrl})
        settings.setValue(QLatin1String(key), value(QLatin1String(key)));
    qputenv("TSL_GATE_CA_BUNDLE", caPath().toUtf8());
}

bool DevCloudProcess::confirm(const QString &code) const
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(portal())};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("code"), code);
    QNetworkReply *reply = manager.post(request, form.toString(QUrl::FullyEncoded).toUtf8());
    waitUntil([reply] { return reply->isFinished(); }, 10000);
    const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    delete reply;
    return ok;
}

QStringList DevCloudProcess::consoleArguments() const
{
    return {QStringLiteral("-h"),       QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"),       QString::number(mqttPort()),
            QStringLiteral("--cafile"), caPath(),
            QStringLiteral("--cert"),   value(QStringLiteral("CONSOLE_CERT")),
            QStringLiteral("--key"),    value(QStringLiteral("CONSOLE_KEY"))};
}

bool DevCloudProcess::publish(const QString &topic, const QByteArray &payload) const
{
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"),
              consoleArguments() << QStringLiteral("-q") << QStringLiteral("0") << QStringLiteral("-t")
                                 << topic << QStringLiteral("-m") << QString::fromUtf8(payload));
    if (!pub.waitForStarted(5000))
        return false;
    const bool done = waitUntil([&] { return pub.state() == QProcess::NotRunning; }, 10000);
    return done && pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}
