// tsl-gate: the desktop program. Start-up fixes the application's identity, reads the command line,
// keeps to one instance, prepares the settings, theme and language, and hands over to the window.

#include "appidentity.h"
#include "apptheme.h"
#include "apptranslations.h"
#include "commandline.h"
#include "mainwindow.h"
#include "qmaterialicon.h"
#include "qtdockedapplication.h"
#include "qterminationwatcher.h"
#include "settingskeys.h"
#include "singleapphandler.h"
#include "sleeplistener.h"
#include "startupoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QSettings>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // The window draws with widgets only. Left alone, Qt's X platform sets up OpenGL as it starts and
    // loads the GL driver (with Mesa also LLVM): some 50 MB of resident memory that nothing uses.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    // Help, version and a bad command line are answered before the window's application object
    // exists, for that needs a display.
    StartupOptions options;
    {
        QCoreApplication early(argc, argv);
        setApplicationIdentity();
        QCommandLineParser parser;
        options.addTo(parser);
        if (const int code =
                CommandLine::check(parser, StartupOptions::withoutToolkitOptions(early.arguments()));
            code >= 0)
            return code;
        options.read(parser);
    }

    QtDockedApplication app(argc, argv);
    setApplicationIdentity();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tsl-gate.ico")));

    // Qt's own plug-ins may ship beside the program or in the lib folder next to it.
    const QString programDir = QCoreApplication::applicationDirPath();
    QCoreApplication::addLibraryPath(programDir);
    QCoreApplication::addLibraryPath(
        QDir::cleanPath(QDir(programDir + QStringLiteral("/../lib")).absolutePath()));

    // Closing the window leaves the program running in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleAppHandler guard(&app);
    if (!guard.isPrimary()) {
        guard.sendMessage(QStringLiteral("show"));
        return 0;
    }

    {
        QSettings settings;
        options.applyTo(settings);
    }

    QMaterialIcon::instance()->applyTheme(AppTheme::choose(options.forceDark(), Key::UiDark.key()));

    QList<QTranslator *> translators;
    AppTranslations::load(translators, &app, nullptr, QStringLiteral("lang"));

    SleepListener *sleep = SleepListener::instance();
    sleep->install();

    auto *window = new MainWindow;
    QObject::connect(&app, &QtDockedApplication::clickedOnDock, window, &MainWindow::dockClicked);
    QObject::connect(sleep, &SleepListener::aboutToSleep, window, &MainWindow::prepareSleep);
    QObject::connect(sleep, &SleepListener::didWakeUp, window, &MainWindow::postWake);
    QObject::connect(&guard, &SingleAppHandler::incomingMessage, window, &MainWindow::instanceMessage);
    // SIGTERM and SIGINT end the program like "Exit" does, also while the start-up sequence runs.
    bool terminated = false;
    QTerminationWatcher termination;
    QObject::connect(&termination, &QTerminationWatcher::terminationRequested, &app, [&terminated] {
        terminated = true;
        QCoreApplication::quit();
    });

    window->restoreSystemLayout();

    // A failed start-up asks the application to exit before its event loop runs, and Qt drops an
    // exit request made outside the event loop: remember the outcome and do not enter the loop.
    bool started = true;
    QObject::connect(window, &MainWindow::loadFinished, &app, [&started](bool ok) { started = ok; });
    QMetaObject::invokeMethod(window, "runInitSequence", Qt::AutoConnection);

    const int code = !started ? 1 : terminated ? 0 : app.exec();

    delete window;
    AppTranslations::unload(translators, &app);
    return code;
}
