#pragma once

#include "pmupdater.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QObject>
#include <QString>

// Checks the update feed (a JSON array of releases) against the running version and installs an
// update of the AppImage through the external update tool. Checks run on the global thread pool;
// the result arrives on the main thread as updateInfoAvailable.
class AppUpdater : public QObject, public PMUpdater
{
    Q_OBJECT
    Q_INTERFACES(PMUpdater)

public:
    explicit AppUpdater(const QString &url, QObject *parent = nullptr);
    ~AppUpdater() override;

    void checkUpdates() override;

    // Runs the update tool with a progress dialog; true when the application has been updated and
    // must exit.
    static bool installUpdate();

    // Whether an automatic check is due: more than max(intervalDays, 1) days since lastCheck, or
    // no valid lastCheck at all.
    static bool checkDue(const QDateTime &lastCheck, const QDateTime &now, uint intervalDays);

signals:
    void updateInfoAvailable(bool can_update, QString version, QString changelog, QString url);
    // The feed could not be fetched or was not a list of releases: nothing is known about updates.
    void checkFailed();

private slots:
    void checkUpdatesInt();
    void asyncFinished();

private:
    QString m_url;
    QFutureWatcher<QJsonDocument> m_watcher;
};

// Downloads and parses one JSON document; gives a null document on any failure or after 10 s.
// Runs on a pool thread with its own network access manager.
QJsonDocument downloadJSon(const QString &url);
