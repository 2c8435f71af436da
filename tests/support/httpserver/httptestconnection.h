#pragma once

#include "httprecordedrequest.h"
#include "httpscriptedresponse.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QTcpSocket;

// One client connection of the test server: reads one request, asks the server for the scripted
// response and plays it back. Every response carries "Connection: close", so one request per
// connection.
class HttpTestConnection : public QObject
{
    Q_OBJECT

public:
    using Responder = std::function<HttpScriptedResponse(const HttpRecordedRequest &)>;

    // Takes ownership of socket.
    HttpTestConnection(QTcpSocket *socket, Responder responder, QObject *parent = nullptr);
    ~HttpTestConnection() override;

    // Closes the connection now, dropping chunks not yet written.
    void closeNow();

signals:
    void requestReceived(const HttpRecordedRequest &request);
    void responseDone();
    void closed();

private:
    void readRequest();
    bool parseHead(const QByteArray &head);
    void writeNext();

    QTcpSocket *m_socket;
    Responder m_responder;
    QByteArray m_input;
    HttpRecordedRequest m_request;
    int m_bodyLength = -1; // -1 while the head is incomplete
    bool m_answered = false;
    HttpScriptedResponse m_response;
    int m_nextChunk = 0;
    QTimer m_timer;
};
