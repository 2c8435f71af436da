#include "historyexportcommand.h"

#include "commandline.h"
#include "historycsvwriter.h"
#include "historyreader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <memory>

namespace HistoryExportCommand {

namespace {

int fail(const QString &message, int code = CommandLine::Failure)
{
    std::fprintf(stderr, "%s: %s\n",
                 qUtf8Printable(QFileInfo(QCoreApplication::arguments().value(0)).fileName()),
                 qUtf8Printable(message));
    return code;
}

} // namespace

bool parseTime(const QString &text, qint64 *ms)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            time = date.startOfDay();
    }
    if (!time.isValid())
        return false;
    *ms = time.toMSecsSinceEpoch();
    return true;
}

int run(const Request &request)
{
    qint64 from = 0;
    qint64 to = QDateTime::currentMSecsSinceEpoch() + 1;
    if (!request.since.isEmpty() && !parseTime(request.since, &from))
        return fail(QStringLiteral("--since: not an ISO 8601 time: %1").arg(request.since),
                    CommandLine::Usage);
    if (!request.until.isEmpty() && !parseTime(request.until, &to))
        return fail(QStringLiteral("--until: not an ISO 8601 time: %1").arg(request.until),
                    CommandLine::Usage);
    if (to <= from)
        return fail(QStringLiteral("--until must be later than --since"), CommandLine::Usage);

    HistoryReader reader;
    if (!reader.open(request.directory)) {
        if (!QFileInfo::exists(request.directory + QLatin1String("/history.db")))
            return fail(QStringLiteral("no history yet in %1").arg(request.directory));
        return fail(QStringLiteral("cannot read the history: %1").arg(reader.errorString()));
    }
    if (!reader.things().contains(request.thing))
        return fail(QStringLiteral("no history of a thing \"%1\"").arg(request.thing));

    std::unique_ptr<QFileDevice> out;
    if (request.out.isEmpty() || request.out == QLatin1String("-")) {
        auto *stdOut = new QFile;
        out.reset(stdOut);
        if (!stdOut->open(stdout, QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write to standard output"));
    } else {
        auto *file = new QSaveFile(request.out);
        out.reset(file);
        if (!file->open(QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write %1: %2").arg(request.out, file->errorString()));
    }
    HistoryCsvWriter csv(reader);
    csv.setThing(request.thing);
    if (csv.write(out.get(), from, to) != HistoryCsvWriter::Written)
        return fail(QStringLiteral("export failed: %1").arg(csv.errorString()));
    if (auto *file = qobject_cast<QSaveFile *>(out.get())) {
        if (!file->commit())
            return fail(QStringLiteral("cannot write %1: %2").arg(request.out, file->errorString()));
    } else {
        out->flush();
    }
    return CommandLine::Success;
}

} // namespace HistoryExportCommand
