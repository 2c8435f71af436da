#pragma once

#include <QString>
#include <QStringList>

class MosquittoBroker;
class QProcess;

// mosquitto_sub running in the background against a MosquittoBroker, collecting every message as a
// line "topic payload" (payloads are expected to be single-line text).
//
//   MosquittoSubscriber sub(broker, "things/+/state");
//   QVERIFY(sub.waitForSubscribed());
//   ... publish ...
//   QVERIFY(sub.waitForLines(3));
//   QCOMPARE(sub.lines(), expected);
//
// The wait functions run the event loop of the calling thread.
class MosquittoSubscriber
{
public:
    MosquittoSubscriber(const MosquittoBroker &broker, const QString &topicFilter);
    // Any broker: clientArguments are the mosquitto_sub options that reach it (host, port, TLS files).
    MosquittoSubscriber(const QStringList &clientArguments, const QString &topicFilter);
    ~MosquittoSubscriber();

    // True once the broker has acknowledged the subscription.
    bool waitForSubscribed(int timeoutMs = 5000);
    // True once at least count messages arrived.
    bool waitForLines(int count, int timeoutMs = 5000);
    QStringList lines() const { return m_lines; }
    // Everything the tool printed, for diagnostics.
    QString transcript() const { return m_transcript; }

    MosquittoSubscriber(const MosquittoSubscriber &) = delete;
    MosquittoSubscriber &operator=(const MosquittoSubscriber &) = delete;

private:
    void readOutput();

    QProcess *m_process = nullptr;
    QByteArray m_pending;
    QStringList m_lines;
    QString m_transcript;
    bool m_subscribed = false;
};
