#include "portal.h"

#include "httpconnection.h"
#include "registrar.h"

#include <QUrlQuery>

namespace {

QByteArray page(const QString &title, const QString &bodyHtml)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "<style>body{font-family:sans-serif;margin:3em auto;max-width:30em}"
                          "input{font-size:1.4em}</style></head>\n<body><h1>%1</h1>\n%2\n</body></html>\n")
        .arg(title.toHtmlEscaped(), bodyHtml)
        .toUtf8();
}

QByteArray formPage()
{
    return page(QStringLiteral("Register a gateway"),
                QStringLiteral("<p>Enter the code that the gateway shows.</p>\n"
                               "<form method=\"post\" action=\"/things\">"
                               "<input name=\"code\" inputmode=\"numeric\" maxlength=\"6\" autofocus> "
                               "<input type=\"submit\" value=\"Confirm\"></form>"));
}

} // namespace

Portal::Portal(Registrar *registrar, QObject *parent) : QObject(parent), m_registrar(registrar) {}

void Portal::handle(HttpConnection *connection)
{
    const QByteArray html = "text/html; charset=utf-8";
    if (connection->method() == QLatin1String("GET")) {
        connection->respond(200, html, formPage());
        return;
    }
    if (connection->method() != QLatin1String("POST")) {
        connection->respondError(405);
        return;
    }
    QString code = connection->query().queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty())
        code = connection->formFields().queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    code = code.trimmed();
    const QString back = QStringLiteral("<p><a href=\"/things\">Enter another code</a></p>");
    if (!code.isEmpty() && m_registrar->confirm(code)) {
        connection->respond(
            200, html,
            page(QStringLiteral("Code confirmed"),
                 QStringLiteral("<p>Code %1 is confirmed: the gateway receives its registration "
                                "now.</p>")
                         .arg(code.toHtmlEscaped()) +
                     back));
        return;
    }
    connection->respond(
        404, html,
        page(QStringLiteral("Unknown code"),
             QStringLiteral("<p>No gateway waits for the code \"%1\". It may have expired.</p>")
                     .arg(code.left(32).toHtmlEscaped()) +
                 back));
}
