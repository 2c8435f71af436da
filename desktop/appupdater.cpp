#include "appupdater.h"

#include "settingskeys.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QVersionNumber>
#include <QtConcurrent>

namespace {
constexpr int AutoCheckDelayMs = 1000;
constexpr int DownloadTimeoutMs = 10000;
constexpr qint64 SecondsPerDay = 86400;
constexpr int ToolStartTimeoutMs = 30000;
constexpr int ToolPollMs = 250;
const QString ErrorMarker = QStringLiteral("ERROR: ");

void warn(const QString &text)
{
    QMessageBox::warning(nullptr, AppUpdater::tr("%1 Update").arg(QCoreApplication::applicationName()), text,
                         QMessageBox::Ok);
}

// Text the update tool wrote, up to a NUL byte if there is one.
QString chunkText(QByteArray bytes)
{
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}
} // namespace

AppUpdater::AppUpdater(const QString &url, QObject *parent) : QObject(parent), m_url(url)
{
    connect(&m_watcher, &QFutureWatcher<QJsonDocument>::finished, this, &AppUpdater::asyncFinished);

    const QSettings settings;
    const uint days = Key::UpdatesInterval.read(settings).toUInt();
    const QDateTime last = QDateTime::fromString(settings.value(Key::UpdatesLastCheck).toString(),
                                                 QLatin1String(Key::TimestampFormat));
    if (Key::UpdatesAuto.read(settings).toBool() && checkDue(last, QDateTime::currentDateTime(), days))
        QTimer::singleShot(AutoCheckDelayMs, this, &AppUpdater::checkUpdatesInt);
}

AppUpdater::~AppUpdater()
{
    // A check still running ends without an announcement: its receiver may be going away too.
    m_watcher.disconnect(this);
    while (m_watcher.isRunning()) {
        QCoreApplication::processEvents();
        QThread::msleep(ToolPollMs);
    }
}

bool AppUpdater::checkDue(const QDateTime &lastCheck, const QDateTime &now, uint intervalDays)
{
    if (!lastCheck.isValid())
        return true;
    const qint64 threshold = qMax(qint64(intervalDays) * SecondsPerDay, SecondsPerDay);
    return lastCheck.secsTo(now) > threshold;
}

void AppUpdater::checkUpdates()
{
    checkUpdatesInt();
}

void AppUpdater::checkUpdatesInt()
{
    if (m_watcher.isRunning())
        return;
    QSettings().setValue(Key::UpdatesLastCheck,
                         QDateTime::currentDateTime().toString(QLatin1String(Key::TimestampFormat)));
    m_watcher.setFuture(QtConcurrent::run(downloadJSon, m_url));
}

void AppUpdater::asyncFinished()
{
    const QFuture<QJsonDocument> future = m_watcher.future();
    const QJsonDocument doc = future.resultCount() > 0 ? future.result() : QJsonDocument();
    if (doc.isNull() || !doc.isArray()) {
        // Not "no update": the check itself failed, and saying otherwise would be a false all-clear.
        emit checkFailed();
        return;
    }

    const QVersionNumber running = QVersionNumber::fromString(QCoreApplication::applicationVersion());
    QVersionNumber best(0, 0, 0);
    QString version;
    QString changelog;
    QString url;
    const QJsonArray releases = doc.array();
    for (const QJsonValue &value : releases) {
        const QJsonObject release = value.toObject();
        const QString text = release.value(QLatin1String("version")).toString();
        const QVersionNumber offered = QVersionNumber::fromString(text);
        if (QVersionNumber::compare(offered, running) <= 0)
            continue;
        QString block;
        const QJsonArray lines = release.value(QLatin1String("changelog")).toArray();
        for (const QJsonValue &line : lines)
            block += QLatin1Char('\n') + line.toString();
        changelog.prepend(block);
        if (QVersionNumber::compare(offered, best) > 0) {
            best = offered;
            version = text;
            url = release.value(QLatin1String("url86")).toString();
        }
    }
    if (version.isEmpty())
        emit updateInfoAvailable(false, QString(), QString(), QString());
    else
        emit updateInfoAvailable(true, version, changelog, url);
}

bool AppUpdater::installUpdate()
{
    if (QProcess::execute(QStringLiteral("which"), {QStringLiteral("zsync_curl")}) != 0) {
        warn(tr("AppImage is corrupted - zsync_curl is missing.\nAboriting update"));
        return false;
    }
    if (QProcess::execute(QStringLiteral("which"), {QStringLiteral("appimageupdate")}) != 0) {
        warn(tr("AppImage is corrupted - updater script is missing.\nAboriting update"));
        return false;
    }
    const QString image = QString::fromUtf8(qgetenv("APPIMAGE"));
    if (image.isEmpty()) {
        warn(tr("AppImage is corrupted - root directory variable is not set.\nAboriting update"));
        return false;
    }

    QProcess tool;
    tool.setProgram(QStringLiteral("appimageupdate"));
    tool.setArguments({image});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QIODevice::ReadWrite);
    if (!tool.waitForStarted(ToolStartTimeoutMs)) {
        warn(tr("appupdateimage process failed to start"));
        return false;
    }

    QProgressDialog progress(tr("Update progress"), QString(), 0, 100);
    progress.setWindowModality(Qt::WindowModal);
    progress.setValue(0);
    progress.show();

    static const QRegularExpression percent(QStringLiteral("\\#(?:\\-+)(?:\\s*)(\\d+(?:\\.\\d+)?)\\%"));
    QString error;
    const auto take = [&](const QString &chunk) {
        if (chunk.isEmpty())
            return;
        QRegularExpressionMatch last;
        for (auto it = percent.globalMatch(chunk); it.hasNext();)
            last = it.next();
        if (last.hasMatch())
            progress.setValue(last.captured(1).section(QLatin1Char('.'), 0, 0).toInt());
        const int marker = chunk.indexOf(ErrorMarker);
        if (marker >= 0) {
            const int from = marker + ErrorMarker.size();
            const int end = chunk.indexOf(QLatin1Char('\n'), from);
            error = chunk.mid(from, end < 0 ? -1 : end - from);
        }
    };
    while (tool.state() != QProcess::NotRunning) {
        QThread::msleep(ToolPollMs);
        QCoreApplication::processEvents();
        take(chunkText(tool.readAll()));
    }
    // Whatever the tool wrote just before it ended.
    take(chunkText(tool.readAll()));
    progress.setValue(100);

    // A crashed tool has no meaningful exit code: it never counts as success.
    if (tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0) {
        warn(tr("Application has been updated and will now be closed."));
        return true;
    }
    if (!error.isEmpty())
        warn(tr("Error: ") + error);
    return false;
}

QJsonDocument downloadJSon(const QString &url)
{
    QJsonDocument doc;
    const QUrl address(url);
    if (url.isEmpty() || !address.isValid())
        return doc;

    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(address));
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(DownloadTimeoutMs);
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start();
    if (!reply->isFinished())
        loop.exec();
    if (reply->error() == QNetworkReply::NoError)
        doc = QJsonDocument::fromJson(reply->readAll());
    delete reply;
    return doc;
}
