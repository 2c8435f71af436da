#include "mosquittosubscriber.h"

#include "eventwait.h"
#include "mosquittobroker.h"

#include <QProcess>

MosquittoSubscriber::MosquittoSubscriber(const MosquittoBroker &broker, const QString &topicFilter)
    : MosquittoSubscriber(broker.clientArguments(), topicFilter)
{
}

MosquittoSubscriber::MosquittoSubscriber(const QStringList &clientArguments, const QString &topicFilter)
{
    m_process = new QProcess;
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(m_process, &QProcess::readyRead, [this] { readOutput(); });
    // Line-buffered, so that the acknowledgement and every message show up at once; -d prints the
    // protocol steps (lines starting with "Client "), -v prefixes each message with its topic.
    m_process->start(
        QStringLiteral("stdbuf"),
        QStringList{QStringLiteral("-oL"), QStringLiteral("mosquitto_sub")}
            << clientArguments
            << QStringList{QStringLiteral("-d"), QStringLiteral("-v"), QStringLiteral("-t"), topicFilter});
}

MosquittoSubscriber::~MosquittoSubscriber()
{
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    delete m_process;
}

void MosquittoSubscriber::readOutput()
{
    m_pending += m_process->readAll();
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
        m_transcript += line + QLatin1Char('\n');
        if (line.startsWith(QLatin1String("Client ")) || line.startsWith(QLatin1String("Subscribed (mid"))) {
            if (line.contains(QLatin1String("received SUBACK")))
                m_subscribed = true;
            continue;
        }
        m_lines << line;
    }
}

bool MosquittoSubscriber::waitForSubscribed(int timeoutMs)
{
    return waitUntil([this] { return m_subscribed; }, timeoutMs);
}

bool MosquittoSubscriber::waitForLines(int count, int timeoutMs)
{
    return waitUntil([this, count] { return m_lines.size() >= count; }, timeoutMs);
}
