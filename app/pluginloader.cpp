#include "pluginloader.h"

#include "abstractthingtype.h"
#include "logcategories.h"
#include "qabstractthing.h"
#include "settingskeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLibrary>
#include <QPluginLoader>
#include <QSettings>

#include <algorithm>

namespace {

using EntryPoint = int (*)();

QString appImagePath()
{
    return qEnvironmentVariable("APPIMAGE");
}

} // namespace

PluginLoader::PluginLoader(QObject *parent, const QString &programDir)
    : QObject(parent),
      m_programDir(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir)
{
}

PluginLoader::~PluginLoader()
{
    deinitLibraries();
}

QString PluginLoader::applicationRoot()
{
    const QString image = appImagePath();
    if (!image.isEmpty())
        return QFileInfo(image).absolutePath();
    return QCoreApplication::applicationDirPath();
}

QString PluginLoader::pluginDirectory() const
{
    const QString root = appImagePath().isEmpty() ? m_programDir : applicationRoot();
    if (QFileInfo(root + QStringLiteral("/plugins")).isDir())
        return QDir::cleanPath(root + QStringLiteral("/plugins"));
    if (QFileInfo(root + QStringLiteral("/../plugins")).isDir())
        return QDir::cleanPath(root + QStringLiteral("/../plugins"));
    if (!appImagePath().isEmpty())
        return QDir::cleanPath(m_programDir + QStringLiteral("/../plugins"));
    return root;
}

QString PluginLoader::libraryDirectory() const
{
    return QDir::cleanPath(QDir(m_programDir).absoluteFilePath(QStringLiteral("../lib")));
}

void PluginLoader::load()
{
    const QDir dir(pluginDirectory());
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("libthing_*")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &file : files) {
        QPluginLoader loader(file.absoluteFilePath());
        const QJsonObject meta = loader.metaData().value(QStringLiteral("MetaData")).toObject();
        if (!loadDependencies(meta)) {
            qCWarning(lcPlugins, "skipped %s: a library it needs did not load or start",
                      qUtf8Printable(file.fileName()));
            continue;
        }
        QObject *root = loader.instance();
        auto *type = root ? qobject_cast<AbstractThingType *>(root) : nullptr;
        if (!type) {
            qCWarning(lcPlugins, "skipped %s: %s", qUtf8Printable(file.fileName()),
                      root ? "not a thing plug-in" : qUtf8Printable(loader.errorString()));
            continue;
        }
        const QString name = meta.value(QStringLiteral("name")).toString();
        if (m_types.contains(name)) {
            qCWarning(lcPlugins, "skipped %s: the type %s is loaded already", qUtf8Printable(file.fileName()),
                      qUtf8Printable(name));
            continue;
        }
        qCDebug(lcPlugins, "loaded %s (%s)", qUtf8Printable(name), qUtf8Printable(file.fileName()));
        m_types.insert(name, type);
        m_metadata.insert(name, meta);
    }
}

bool PluginLoader::loadDependencies(const QJsonObject &meta)
{
    const QJsonArray deps = meta.value(QStringLiteral("deps")).toArray();
    for (const QJsonValue &value : deps) {
        const QJsonObject dep = value.toObject();
        if (dep.value(QStringLiteral("type")).toString() != QLatin1String("lib"))
            continue;
        const QString name = dep.value(QStringLiteral("name")).toString();
        const int version = dep.value(QStringLiteral("version")).toInt(1);
        const QString key = QStringLiteral("%1-%2").arg(name).arg(version);
        if (m_libraries.contains(key))
            continue;

        auto *library = new QLibrary(libraryDirectory() + QStringLiteral("/lib") + name, version, this);
        if (!library->load()) {
            delete library;
            return false;
        }
        m_libraries.insert(key, library);
        if (auto init = reinterpret_cast<EntryPoint>(library->resolve("init")); init && init() != 0)
            return false;
    }
    return true;
}

void PluginLoader::deinitLibraries()
{
    if (m_deinitDone)
        return;
    m_deinitDone = true;
    for (QLibrary *library : qAsConst(m_libraries)) {
        if (auto deinit = reinterpret_cast<EntryPoint>(library->resolve("deinit")))
            deinit();
    }
    qDeleteAll(m_libraries);
    m_libraries.clear();
}

QHash<QString, QVariant> PluginLoader::typeSettings(const QString &type, const QJsonObject &metadata)
{
    QHash<QString, QVariant> settings;
    const QJsonArray schema = metadata.value(QStringLiteral("settings")).toArray();
    for (const QJsonValue &value : schema) {
        const QJsonObject entry = value.toObject();
        if (entry.contains(QStringLiteral("value")))
            settings.insert(entry.value(QStringLiteral("name")).toString(),
                            entry.value(QStringLiteral("value")).toVariant());
    }
    const auto stored = storedTypeSettings({type}).value(type);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        settings.insert(it.key(), it.value());
    return settings;
}

QHash<QString, QHash<QString, QVariant>> PluginLoader::storedTypeSettings(const QStringList &types)
{
    QHash<QString, QHash<QString, QVariant>> result;
    const QSettings settings;
    const QStringList keys = settings.allKeys();
    for (const QString &type : types) {
        const QString prefix = Key::pluginPrefix(type);
        for (const QString &key : keys) {
            if (key.startsWith(prefix))
                result[type].insert(key.split(QLatin1Char('/')).constLast(), settings.value(key));
        }
    }
    return result;
}

void PluginLoader::createNewThings(const QList<QAbstractThing *> &known,
                                   const std::function<void(QAbstractThing *, QObject *)> &adopt) const
{
    const QSettings settings;
    for (auto it = m_types.cbegin(); it != m_types.cend(); ++it) {
        const QString &type = it.key();
        AbstractThingType *plugin = it.value();
        if (!settings.value(Key::plugin(type, QLatin1String(Key::PluginEnabled)), Key::PluginEnabledByDefault)
                 .toBool())
            continue;
        const QHash<QString, QVariant> found = plugin->scan();
        bool settingsLoaded = false;
        QHash<QString, QVariant> settingsOfType;
        for (auto dev = found.cbegin(); dev != found.cend(); ++dev) {
            const bool isKnown = std::any_of(known.cbegin(), known.cend(), [&](const QAbstractThing *t) {
                return plugin->equals(dev.key(), t);
            });
            if (isKnown)
                continue;
            if (!settingsLoaded) {
                settingsOfType = typeSettings(type, m_metadata.value(type));
                settingsLoaded = true;
            }
            QObject *ui = nullptr;
            if (QAbstractThing *thing = plugin->create(dev.key(), dev.value(), settingsOfType, &ui))
                adopt(thing, ui);
        }
    }
}

void PluginLoader::applyStoredSettings(const QList<QAbstractThing *> &things) const
{
    const auto stored = storedTypeSettings(m_types.keys());
    for (QAbstractThing *thing : things) {
        const auto it = stored.constFind(thing->type());
        if (it != stored.constEnd())
            thing->applyTypeSettings(it.value());
    }
}

QJsonObject PluginLoader::metadataObject() const
{
    QJsonObject all;
    for (auto it = m_metadata.cbegin(); it != m_metadata.cend(); ++it)
        all.insert(it.key(), it.value());
    return all;
}
