#include "httpscriptedresponse.h"

#include "httpconnection.h"

HttpScriptedResponse &HttpScriptedResponse::header(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

HttpScriptedResponse &HttpScriptedResponse::send(const QByteArray &bytes, int delayMs)
{
    chunks.append({bytes, delayMs});
    return *this;
}

HttpScriptedResponse &HttpScriptedResponse::keepingOpen(bool on)
{
    keepOpen = on;
    return *this;
}

HttpScriptedResponse &HttpScriptedResponse::usingChunks(bool on)
{
    chunked = on;
    return *this;
}

HttpScriptedResponse HttpScriptedResponse::eventStream()
{
    HttpScriptedResponse r;
    r.header("Content-Type", "text/event-stream").header("Cache-Control", "no-cache");
    return r;
}

HttpScriptedResponse HttpScriptedResponse::text(int status, const QByteArray &body,
                                                const QByteArray &contentType)
{
    HttpScriptedResponse r;
    r.status = status;
    r.reason = reasonPhrase(status);
    r.header("Content-Type", contentType).header("Content-Length", QByteArray::number(body.size()));
    if (!body.isEmpty())
        r.send(body);
    return r;
}

HttpScriptedResponse HttpScriptedResponse::redirect(const QByteArray &location, int status)
{
    HttpScriptedResponse r = text(status, QByteArray());
    r.header("Location", location);
    return r;
}

QByteArray HttpScriptedResponse::reasonPhrase(int status)
{
    return HttpConnection::reason(status);
}
