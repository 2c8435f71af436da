#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class HttpConnection;

// The maker's update feed as the gateway's updater reads it: GET of Path gives a JSON array of
// releases ("version", "changelog", "url86"). The releases come from a file, read again at every
// request so a running demo can be edited, or from a list of version numbers; neither gives "[]".
class UpdateFeed : public QObject
{
    Q_OBJECT
public:
    static inline const QString Path = QStringLiteral("/software/tsl-gate/updates/lin/appcast.json");

    explicit UpdateFeed(QObject *parent = nullptr);

    void setFile(const QString &fileName) { m_file = fileName; }
    // Each version becomes a release with one change-log line and a download page on baseUrl.
    void setReleases(const QStringList &versions, const QString &baseUrl);

    void handle(HttpConnection *connection);

private:
    QByteArray document() const;

    QString m_file;
    QStringList m_versions;
    QString m_baseUrl;
};
