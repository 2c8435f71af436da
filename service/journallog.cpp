#include "journallog.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool journal = false;

int priority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

} // namespace

void JournalLog::install()
{
    journal = stderrIsJournal();
    qInstallMessageHandler(&JournalLog::handle);
}

bool JournalLog::stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const int colon = stream.indexOf(':');
    struct stat info = {};
    if (colon <= 0 || ::fstat(STDERR_FILENO, &info) != 0)
        return false;
    bool devOk = false;
    bool inoOk = false;
    const qulonglong dev = stream.left(colon).toULongLong(&devOk);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&inoOk);
    return devOk && inoOk && dev == qulonglong(info.st_dev) && ino == qulonglong(info.st_ino);
}

QByteArray JournalLog::format(QtMsgType type, const char *category, const QString &message, bool journal)
{
    QString text = message.trimmed();
    // A PEM block anywhere in a message (a key, or a certificate with one) is left out whole.
    static const QRegularExpression pem(
        QStringLiteral("-----BEGIN ([A-Z0-9 ]+)-----.*?(-----END \\1-----|$)"),
        QRegularExpression::DotMatchesEverythingOption);
    text.replace(pem, QStringLiteral("[\\1 withheld]"));
    static const QRegularExpression breaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
    text.replace(breaks, QStringLiteral(" | "));
    QByteArray line;
    if (journal)
        line = '<' + QByteArray::number(priority(type)) + '>';
    if (category && std::strcmp(category, "default") != 0)
        line += QByteArray(category) + ": ";
    line += text.toUtf8();
    line += '\n';
    return line;
}

void JournalLog::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = format(type, context.category, message, journal);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}
