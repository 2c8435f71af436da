#pragma once

#include "httpscriptedresponse.h"

#include <QObject>
#include <QTimer>

class HttpConnection;

// Plays one scripted response back on a connection of the test server: the head at once, then
// each chunk after its delay, then the end of the connection unless the response keeps it open.
// A child of the connection, so it ends with it.
class HttpTestConnection : public QObject
{
    Q_OBJECT

public:
    HttpTestConnection(HttpConnection *connection, const HttpScriptedResponse &response);
    // Writes the head and schedules the body.
    void start();

signals:
    // The last chunk was handed to the socket.
    void responseDone();

private:
    void writeNext();

    HttpConnection *m_connection;
    HttpScriptedResponse m_response;
    int m_nextChunk = 0;
    QTimer m_timer;
};
