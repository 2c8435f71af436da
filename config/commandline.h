#pragma once

#include <QStringList>

class QCommandLineParser;

// The command-line manners both programs share: --help and --version answer on standard output
// and exit 0; a bad command line tells what is wrong and the usage on standard error and exits 2.
class CommandLine
{
public:
    enum ExitCode { Success = 0, Failure = 1, Usage = 2 };

    // Parses args (the program's name first) with the parser's options. Returns -1 when the
    // program should go on, otherwise the exit code after printing the answer.
    static int check(QCommandLineParser &parser, const QStringList &args);
    // Prints "<program>: <error>" and the usage on standard error; returns Usage.
    static int usageError(const QCommandLineParser &parser, const QString &error);
};
