// One instance of an application guarded by SingleAppHandler, for the guard's process tests.
//   singleinstanceprobe <application name> [message]
// The primary prints "primary <server name>", then "message:<text>" for every message, and ends on
// the message "quit". A secondary hands over the message (default "show"), prints "secondary" and
// exits with 0.

#include "singleapphandler.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    SingleAppHandler guard(&app);
    if (!guard.isPrimary()) {
        guard.sendMessage(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("show"));
        std::printf("secondary\n");
        return 0;
    }
    std::printf("primary %s\n", qPrintable(SingleAppHandler::serverName()));
    std::fflush(stdout);
    QObject::connect(&guard, &SingleAppHandler::incomingMessage, &app, [](const QString &msg) {
        std::printf("message:%s\n", qUtf8Printable(msg));
        std::fflush(stdout);
        if (msg == QLatin1String("quit"))
            QCoreApplication::quit();
    });
    return app.exec();
}
