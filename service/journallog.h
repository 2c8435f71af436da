#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The message handler of tsl-gated: one line on standard error per message, the category in front
// ("tsl.mqtt: ...", none for Qt's default category), line breaks inside a message folded, and key
// material never written out. When standard error is the journal ($JOURNAL_STREAM names its device
// and inode) every line starts with its syslog priority, "<3>" for errors to "<7>" for debug, so
// `journalctl -p warning` picks the warnings out.
class JournalLog
{
public:
    // Installs the handler for the whole process; the journal is detected once, here.
    static void install();
    // Whether standard error is the stream the journal handed this process.
    static bool stderrIsJournal();
    // The line written for one message, with its line break.
    static QByteArray format(QtMsgType type, const char *category, const QString &message, bool journal);

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
};
