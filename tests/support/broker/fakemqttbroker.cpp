#include "fakemqttbroker.h"

#include <QSslSocket>
#include <QTimer>

#include <algorithm>

namespace {

// Length of the packet at the start of buffer, or -1 while it is incomplete; *header receives the
// length of its fixed header.
int packetLength(const QByteArray &buffer, int *header)
{
    int remaining = 0;
    int multiplier = 1;
    for (int i = 1; i < buffer.size() && i <= 4; ++i) {
        const auto byte = quint8(buffer.at(i));
        remaining += (byte & 0x7f) * multiplier;
        multiplier *= 128;
        if (!(byte & 0x80)) {
            const int total = 1 + i + remaining;
            *header = 1 + i;
            return buffer.size() >= total ? total : -1;
        }
    }
    return -1;
}

} // namespace

FakeMqttBroker::FakeMqttBroker(QObject *parent) : QTcpServer(parent) {}

FakeMqttBroker::~FakeMqttBroker()
{
    for (const QPointer<QTcpSocket> &s : qAsConst(m_sockets))
        delete s.data();
}

void FakeMqttBroker::setHoldAcks(int periodMs)
{
    if (!m_ackTimer) {
        m_ackTimer = new QTimer(this);
        connect(m_ackTimer, &QTimer::timeout, this, [this] {
            std::reverse(m_heldAcks.begin(), m_heldAcks.end());
            for (const HeldAck &ack : qAsConst(m_heldAcks)) {
                if (ack.socket)
                    ack.socket->write(QByteArray("\x40\x02", 2) + ack.packetId);
            }
            m_heldAcks.clear();
        });
    }
    m_ackTimer->stop();
    if (periodMs > 0)
        m_ackTimer->start(periodMs);
}

void FakeMqttBroker::dropClients()
{
    m_heldAcks.clear();
    for (const QPointer<QTcpSocket> &s : qAsConst(m_sockets)) {
        if (s)
            s->abort();
    }
}

bool FakeMqttBroker::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

void FakeMqttBroker::incomingConnection(qintptr descriptor)
{
    ++m_connections;
    if (m_behaviour == SilentTcp || m_behaviour == CloseAtOnce) {
        auto *plain = new QTcpSocket(this);
        plain->setSocketDescriptor(descriptor);
        m_sockets << plain;
        if (m_behaviour == CloseAtOnce)
            plain->close();
        return;
    }
    TestPki &pki = TestPki::instance();
    const TestPki::Identity server = pki.server(TestPki::Localhost);
    auto *tls = new QSslSocket(this);
    m_sockets << tls;
    if (!tls->setSocketDescriptor(descriptor))
        return;
    QSslConfiguration config = tls->sslConfiguration();
    config.setLocalCertificate(server.certificate);
    config.setPrivateKey(server.key);
    config.setCaCertificates({pki.ca()});
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    tls->setSslConfiguration(config);
    connect(tls, &QSslSocket::readyRead, this, [this, tls] { readPackets(tls); });
    connect(tls, &QSslSocket::disconnected, tls, &QObject::deleteLater);
    tls->startServerEncryption();
}

void FakeMqttBroker::readPackets(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("pending").toByteArray() + socket->readAll();
    int length;
    int header = 0;
    while ((length = packetLength(buffer, &header)) > 0) {
        const quint8 type = quint8(buffer.at(0)) >> 4;
        const QByteArray packetId = buffer.mid(header, 2);
        const QByteArray body = buffer.mid(header, length - header);
        const int qos = (quint8(buffer.at(0)) >> 1) & 3;
        buffer.remove(0, length);
        if (type == 1) { // CONNECT
            ++m_connectPackets;
            if (m_behaviour != AnswerConnack)
                continue;
            if (m_returnCode == 0)
                m_publishes.append(QStringList());
            const char connack[] = {0x20, 0x02, 0x00, char(m_returnCode)};
            socket->write(connack, sizeof connack);
            if (m_returnCode != 0)
                socket->disconnectFromHost();                                 // after the CONNACK is out
        } else if (type == 3 && body.size() >= 2 && !m_publishes.isEmpty()) { // PUBLISH
            const int topicLength = quint8(body.at(0)) << 8 | quint8(body.at(1));
            const int at = 2 + topicLength + (qos > 0 ? 2 : 0);
            m_publishes.last().append(QString::fromUtf8(body.mid(2, topicLength)) + QLatin1Char(' ') +
                                      QString::fromUtf8(body.mid(at)));
            if (qos > 0 && m_ackTimer && m_ackTimer->isActive()) {
                m_heldAcks.append({socket, body.mid(2 + topicLength, 2)});
                m_mostUnacknowledged = qMax(m_mostUnacknowledged, int(m_heldAcks.size()));
            }
        } else if (type == 8 && packetId.size() == 2) { // SUBSCRIBE (one topic)
            socket->write(QByteArray("\x90\x03", 2) + packetId + char(m_subackCode));
        } else if (type == 10 && packetId.size() == 2) { // UNSUBSCRIBE
            socket->write(QByteArray("\xb0\x02", 2) + packetId);
        } else if (type == 12) { // PINGREQ
            const char pingresp[] = {char(0xd0), 0x00};
            socket->write(pingresp, sizeof pingresp);
        } else if (type == 14) { // DISCONNECT
            ++m_disconnectPackets;
            socket->disconnectFromHost();
        }
    }
    socket->setProperty("pending", buffer);
}
