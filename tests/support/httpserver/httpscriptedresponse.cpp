#include "httpscriptedresponse.h"

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
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}
