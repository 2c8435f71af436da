#pragma once

#include "qsseparser.h"

#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

// Reads a server-sent event stream over HTTP or HTTPS and hands out every complete event as its
// name, data and last event id. One stream at a time; the reader never reconnects by itself.
class QSSEManager : public QObject
{
    Q_OBJECT

public:
    explicit QSSEManager(QObject *parent = nullptr);
    ~QSSEManager() override;

    // Opens url with its query replaced by the members of query (when not empty), one item per
    // member in key order; a member that is not a string gives an empty value.
    bool openStream(const QString &url, const QJsonObject &query);
    // Refused (false) while a stream is running.
    bool openStream(const QUrl &url);
    // True while a stream is running: its reply exists, is readable and has not ended.
    bool isOpen() const;

public slots:
    // Drops the current stream without emitting finished().
    void close();

signals:
    void closed();
    void disconnected();
    // The server or the network ended the stream.
    void finished();
    void dataReady(const QString &event, const QString &data, const QString &eid);

private slots:
    void dataReceived();
    void error(QNetworkReply::NetworkError code);
    void redirected(const QUrl &url);

private:
    void forgetReply();

    // Bytes the network layer may hold for us before it stops reading from the socket.
    static constexpr qint64 ReadBufferSize = 256 * 1024;

    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QSSEParser m_parser; // line buffer, event, data, last event id and retry of the stream
};
