#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// What the test server answers to one request: a status line and headers, written at once, then
// the body as a list of chunks, each written after its own delay (counted from the previous
// write), then the connection is closed or kept open.
//
// Qt's HTTP client may send a request a second time when a body that ends with the connection
// ends very soon after the head (it cancels that copy at once); do not count on exact request
// counts for such responses, or give them a Content-Length (text(), redirect()) or chunks.
//
//     auto r = HttpScriptedResponse::eventStream()
//                  .send("event: code\n")
//                  .send("data: 123\n\n", 50)
//                  .keepingOpen();
struct HttpScriptedResponse
{
    struct Chunk
    {
        QByteArray bytes;
        int delayMs = 0;
    };

    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers;
    QList<Chunk> chunks;
    // After the last chunk: keep the connection open (until the client leaves or the server
    // closes it) instead of closing it, which ends the body.
    bool keepOpen = false;
    // Send the body with chunked transfer encoding, as streaming servers usually do: each chunk
    // below goes out as one encoded chunk and the body's end is sent before closing. Without it
    // the body ends where the connection does.
    bool chunked = false;

    HttpScriptedResponse &header(const QByteArray &name, const QByteArray &value);
    HttpScriptedResponse &send(const QByteArray &bytes, int delayMs = 0);
    HttpScriptedResponse &keepingOpen(bool on = true);
    HttpScriptedResponse &usingChunks(bool on = true);

    // 200 with Content-Type text/event-stream and no body yet: add chunks with send().
    static HttpScriptedResponse eventStream();
    // A complete response with Content-Length.
    static HttpScriptedResponse text(int status, const QByteArray &body,
                                     const QByteArray &contentType = "text/plain; charset=utf-8");
    // A redirect to location (a path of the same server or an absolute URL).
    static HttpScriptedResponse redirect(const QByteArray &location, int status = 302);

    static QByteArray reasonPhrase(int status);
};
