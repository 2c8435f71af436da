#include "updatefeed.h"

#include "httpconnection.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

UpdateFeed::UpdateFeed(QObject *parent) : QObject(parent) {}

void UpdateFeed::setReleases(const QStringList &versions, const QString &baseUrl)
{
    m_versions = versions;
    m_baseUrl = baseUrl;
}

QByteArray UpdateFeed::document() const
{
    if (!m_file.isEmpty()) {
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        return file.readAll();
    }
    QJsonArray releases;
    for (const QString &version : m_versions) {
        releases.append(QJsonObject{
            {QStringLiteral("version"), version},
            {QStringLiteral("changelog"), QJsonArray{QStringLiteral("Release %1").arg(version)}},
            {QStringLiteral("url86"),
             m_baseUrl + QStringLiteral("/software/tsl-gate/releases/%1").arg(version)},
        });
    }
    return QJsonDocument(releases).toJson(QJsonDocument::Compact);
}

void UpdateFeed::handle(HttpConnection *connection)
{
    if (connection->method() != QLatin1String("GET")) {
        connection->respondError(405);
        return;
    }
    const QByteArray body = document();
    if (body.isNull()) {
        connection->respondError(500, QStringLiteral("the feed file cannot be read"));
        return;
    }
    connection->respond(200, "application/json", body);
}
