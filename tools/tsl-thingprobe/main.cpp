// tsl-thingprobe: loads the thing plug-ins the way the gateway does, creates a thing for every device
// they find, and prints what the things announce:
//   <shortid> created | stateChanged {json} | mediumGone
// Plug-ins come from ../plugins beside the program, their HID library from ../lib.

#include "abstractthingtype.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct ThingType
{
    QString name;
    AbstractThingType *type = nullptr;
    QHash<QString, QVariant> settings; // the schema's defaults
};

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

QList<ThingType> loadPlugins(const QString &dir)
{
    QList<ThingType> types;
    const QStringList files = QDir(dir).entryList({QStringLiteral("libthing_*.so")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        auto *loader = new QPluginLoader(dir + QLatin1Char('/') + file, qApp);
        const QJsonObject meta = loader->metaData().value(QStringLiteral("MetaData")).toObject();
        QObject *root = loader->instance();
        auto *type = root ? qobject_cast<AbstractThingType *>(root) : nullptr;
        if (!type) {
            std::fprintf(stderr, "tsl-thingprobe: %s: not a thing plug-in (%s)\n", qPrintable(file),
                         qPrintable(loader->errorString()));
            continue;
        }
        ThingType t;
        t.name = meta.value(QStringLiteral("name")).toString();
        t.type = type;
        for (const QJsonValue &entry : meta.value(QStringLiteral("settings")).toArray()) {
            const QJsonObject setting = entry.toObject();
            if (setting.contains(QStringLiteral("value")))
                t.settings.insert(setting.value(QStringLiteral("name")).toString(),
                                  setting.value(QStringLiteral("value")).toVariant());
        }
        say(QStringLiteral("plugin %1 %2").arg(t.name, meta.value(QStringLiteral("version")).toString()));
        types.append(t);
    }
    return types;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows what the thing plug-ins find and report."));
    parser.addHelpOption();
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"),
                                        QStringLiteral("Run this long (default 10)."), QStringLiteral("N"),
                                        QStringLiteral("10"));
    const QCommandLineOption rescanOpt(QStringLiteral("rescan"),
                                       QStringLiteral("Scan again every N milliseconds (default 2000)."),
                                       QStringLiteral("MS"), QStringLiteral("2000"));
    parser.addOptions({secondsOpt, rescanOpt});
    parser.process(app);

    const QString appDir = QCoreApplication::applicationDirPath();
    QLibrary hidlink(appDir + QStringLiteral("/../lib/libhidlink.so.1"));
    using Entry = int (*)();
    const auto hidInit = reinterpret_cast<Entry>(hidlink.resolve("init"));
    const auto hidDeinit = reinterpret_cast<Entry>(hidlink.resolve("deinit"));
    if (!hidInit || !hidDeinit) {
        std::fprintf(stderr, "tsl-thingprobe: %s\n", qPrintable(hidlink.errorString()));
        return 1;
    }
    if (hidInit() != 0)
        std::fprintf(stderr, "tsl-thingprobe: hidlink init failed\n");

    const QList<ThingType> types = loadPlugins(appDir + QStringLiteral("/../plugins"));
    if (types.isEmpty()) {
        std::fprintf(stderr, "tsl-thingprobe: no plug-ins in %s/../plugins\n", qPrintable(appDir));
        return 1;
    }

    QList<QAbstractThing *> things;
    auto rescan = [&] {
        for (const ThingType &t : types) {
            const QHash<QString, QVariant> found = t.type->scan();
            for (auto it = found.cbegin(); it != found.cend(); ++it) {
                const bool known = std::any_of(things.cbegin(), things.cend(), [&](QAbstractThing *thing) {
                    return t.type->equals(it.key(), thing);
                });
                if (known)
                    continue;
                QObject *thui = nullptr;
                QAbstractThing *thing = t.type->create(it.key(), it.value(), t.settings, &thui);
                if (!thing) {
                    say(QStringLiteral("%1 %2 cannot be opened").arg(t.name, it.key()));
                    continue;
                }
                const QString id = thing->shortid();
                say(QStringLiteral("%1 created %2")
                        .arg(id, QString::fromUtf8(
                                     QJsonDocument(thing->state()).toJson(QJsonDocument::Compact))));
                QObject::connect(thing, &QAbstractThing::stateChanged, &app, [id](const QJsonObject &state) {
                    say(QStringLiteral("%1 stateChanged %2")
                            .arg(id, QString::fromUtf8(QJsonDocument(state).toJson(QJsonDocument::Compact))));
                });
                QObject::connect(thing, &QAbstractThing::mediumGone, &app, [&things, thing, id] {
                    say(QStringLiteral("%1 mediumGone").arg(id));
                    things.removeOne(thing);
                    thing->deleteLater();
                });
                things.append(thing);
            }
        }
    };

    QTimer rescanTimer;
    QObject::connect(&rescanTimer, &QTimer::timeout, &app, rescan);
    rescanTimer.start(qMax(100, parser.value(rescanOpt).toInt()));
    QTimer::singleShot(qMax(0, parser.value(secondsOpt).toInt()) * 1000, &app, &QCoreApplication::quit);
    rescan();
    const int rc = app.exec();
    qDeleteAll(things);
    hidDeinit();
    return rc;
}
