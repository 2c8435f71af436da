#include "devcloudprocess.h"

#include "eventwait.h"
#include "settingskeys.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QUrlQuery>

DevCloudProcess::DevCloudProcess(const QStringList &extraArguments) : m_arguments(extraArguments) {}

DevCloudProcess::~DevCloudProcess()
{
    stop();
}

bool DevCloudProcess::start(int timeoutMs)
{
    const QString program = qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin/tsl-devcloud");
    m_process = new QProcess;
    m_process->setProgram(program);
    m_process->setArguments(QStringList{QStringLiteral("--data"), m_data.path(), QStringLiteral("--http-port"),
                                        QStringLiteral("0"), QStringLiteral("--mqtt-port"), QStringLiteral("0")}
                            + m_arguments);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // The tool is not built with the sanitizers' preload in mind, and needs no simulated devices.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    m_process->setProcessEnvironment(env);
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1").arg(program);
        return false;
    }
    QByteArray pending;
    bool ready = false;
    const bool ok = waitUntil(
        [&] {
            pending += m_process->readAllStandardOutput();
            int end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending.left(end)).trimmed();
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
    if (!ok || !ready) {
        m_error = QStringLiteral("tsl-devcloud did not become ready: %1").arg(transcript());
        return false;
    }
    return true;
}

void DevCloudProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    delete m_process;
    m_process = nullptr;
}

QString DevCloudProcess::transcript() const
{
    return m_process ? QString::fromUtf8(m_process->readAllStandardError()) : QString();
}

void DevCloudProcess::pointGatewayHere() const
{
    QSettings settings;
    for (const char *key : {Key::WebRegEndpoint, Key::WebCloud, Key::CloudHost, Key::CloudPort})
        settings.setValue(QLatin1String(key), setting(QLatin1String(key)));
    qputenv("TSL_GATE_CA_BUNDLE", setting(QStringLiteral("TSL_GATE_CA_BUNDLE")).toUtf8());
}

bool DevCloudProcess::confirm(const QString &code)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(setting(QLatin1String(Key::WebCloud)) + QStringLiteral("/things")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
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
            QStringLiteral("-p"),       setting(QLatin1String(Key::CloudPort)),
            QStringLiteral("--cafile"), setting(QStringLiteral("TSL_GATE_CA_BUNDLE")),
            QStringLiteral("--cert"),   setting(QStringLiteral("CONSOLE_CERT")),
            QStringLiteral("--key"),    setting(QStringLiteral("CONSOLE_KEY"))};
}

bool DevCloudProcess::publish(const QString &topic, const QByteArray &payload)
{
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"),
              consoleArguments() << QStringLiteral("-q") << QStringLiteral("0") << QStringLiteral("-t") << topic
                                 << QStringLiteral("-m") << QString::fromUtf8(payload));
    if (!pub.waitForStarted(5000))
        return false;
    const bool done = waitUntil([&] { return pub.state() == QProcess::NotRunning; }, 10000);
    return done && pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}
