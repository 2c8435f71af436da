#pragma once

#include "httprecordedrequest.h"
#include "httpscriptedresponse.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QUrl>

class HttpConnection;
class HttpServer;

// A scripted HTTP or HTTPS server for tests, listening on 127.0.0.1 at a free port.
//
//     HttpTestServer server;
//     QVERIFY(server.start());                     // or startTls() for HTTPS
//     server.setResponse("/events", HttpScriptedResponse::eventStream().send("data: 1\n\n"));
//     server.setResponse("/old", HttpScriptedResponse::redirect("/events"));
//     ... point the client at server.url("/old") ...
//     QTRY_COMPARE(server.requests().size(), 2);
//
// Responses are chosen by the request's path; a path without a response gets the fallback (404
// unless set). Every request is recorded (target, path, query, headers, body) before it is
// answered. For HTTPS the server makes a self-signed certificate for localhost and 127.0.0.1
// (CertificateAuthority); trustCertificate() lets the process's TLS clients accept it. Requests
// are read and answered by the dev kit's HttpServer.
// Lives on the thread that created it; needs a running event loop (QTest's waits will do).
class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    // Listen for plain HTTP. False (see errorText()) if the port cannot be had.
    bool start();
    // Listen for HTTPS; makes the certificate on first use in the process.
    bool startTls();
    bool isTls() const { return m_tls; }
    QString errorText() const { return m_error; }

    // Absolute URL of pathAndQuery ("/events?x=1") on this server.
    QUrl url(const QString &pathAndQuery = QStringLiteral("/")) const;

    void setResponse(const QString &path, const HttpScriptedResponse &response);
    void setFallback(const HttpScriptedResponse &response);

    QList<HttpRecordedRequest> requests() const { return m_requests; }
    // Connections currently open (accepted and not yet closed by either side).
    int openConnections() const;
    // Ends every open connection, e.g. an event stream kept open.
    void closeConnections();
    // Stops listening; open connections go on.
    void close();

    // The server's certificate (null before startTls()).
    QSslCertificate certificate() const { return m_certificate; }
    // Adds certificate to the CA list of the process's default TLS configuration, so clients that
    // use the default (QNetworkAccessManager does) accept this server.
    static void trustCertificate(const QSslCertificate &certificate);

signals:
    void requestReceived(const HttpRecordedRequest &request);
    // The last chunk of a response was handed to the socket.
    void responseDone();
    void connectionClosed();

private:
    bool listenLoopback();
    void answer(HttpConnection *connection);

    bool m_tls = false;
    QString m_error;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QString, HttpScriptedResponse> m_responses;
    HttpScriptedResponse m_fallback;
    QList<HttpRecordedRequest> m_requests;
    HttpServer *m_http;
};
