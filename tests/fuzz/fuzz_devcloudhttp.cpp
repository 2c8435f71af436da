// The development cloud's HTTP request reader, over a real loopback connection: the input is
// sent and the client's side closed. A request reported ready has an upper-case method, a path
// from the root and a body of exactly its Content-Length.

#include "fuzzsupport.h"
#include "httpconnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
QTcpServer *g_server = nullptr;

void checkRequest(HttpConnection *connection)
{
    const QString method = connection->method();
    FuzzSupport::require(!method.isEmpty(), "a request without method");
    for (const QChar c : method)
        FuzzSupport::require(c >= QLatin1Char('A') && c <= QLatin1Char('Z'),
                             "a method that is not upper case");
    FuzzSupport::require(connection->body().size() <= HttpConnection::MaxRequestSize, "an oversized body");
    const QByteArray length = connection->header("content-length");
    FuzzSupport::require(connection->body().size() == (length.isEmpty() ? 0 : length.toLongLong()),
                         "a body that is not its Content-Length");
    connection->formFields();
    connection->respond(200, "text/plain", "ok");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_devcloudhttp");
    g_server = new QTcpServer;
    if (!g_server->listen(QHostAddress::LocalHost))
        FuzzSupport::fail("cannot listen on the loopback interface");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, g_server->serverPort());
    if (!client.waitForConnected(5000) || !g_server->waitForNewConnection(5000))
        FuzzSupport::fail("cannot connect over the loopback interface");
    QPointer<HttpConnection> connection = new HttpConnection(g_server->nextPendingConnection(), nullptr);
    bool closed = false;
    QObject::connect(connection, &HttpConnection::requestReady, checkRequest);
    QObject::connect(connection, &HttpConnection::closed, [&closed] { closed = true; });

    client.write(reinterpret_cast<const char *>(data), qint64(size));
    client.waitForBytesWritten(5000);
    client.disconnectFromHost();
    QElapsedTimer clock;
    clock.start();
    while (connection && !closed && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    delete connection.data();
    return 0;
}
