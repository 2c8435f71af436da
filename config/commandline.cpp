#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int CommandLine::check(QCommandLineParser &parser, const QStringList &args)
{
    if (!parser.parse(args))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        write(stdout, parser.helpText());
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        write(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return Success;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            parser, QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    return -1;
}

int CommandLine::usageError(const QCommandLineParser &parser, const QString &error)
{
    const QString program = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    write(stderr, QStringLiteral("%1: %2\n\n%3").arg(program, error, parser.helpText()));
    return Usage;
}
