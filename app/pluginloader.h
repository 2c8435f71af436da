#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class AbstractThingType;
class QAbstractThing;
class QLibrary;

// Finds the thing-type plug-ins next to the program, loads the libraries they depend on (calling
// their init entry once per library), and keeps every usable plug-in under its type name with its
// metadata. A plug-in that cannot be used is skipped silently.
class PluginLoader : public QObject
{
    Q_OBJECT

public:
    // programDir is where the running executable lies (the library directory is programDir/../lib);
    // empty means the application's own directory.
    explicit PluginLoader(QObject *parent = nullptr, const QString &programDir = QString());
    // Calls deinit of every dependency library that exports one, then unloads nothing: plug-in
    // code may still be referenced by objects being torn down.
    ~PluginLoader() override;

    void load();

    const QHash<QString, AbstractThingType *> &types() const { return m_types; }
    const QHash<QString, QJsonObject> &metadata() const { return m_metadata; }
    // The same as one object, by plug-in.
    QJsonObject metadataObject() const;
    QStringList libraryKeys() const { return m_libraries.keys(); }

    // Type settings of a plug-in: the schema defaults overridden by every stored Plugins/<type>/ key.
    static QHash<QString, QVariant> typeSettings(const QString &type, const QJsonObject &metadata);
    // Only the stored Plugins/<type>/ keys, one hash per type that has any.
    static QHash<QString, QHash<QString, QVariant>> storedTypeSettings(const QStringList &types);

    // Scans with every enabled plug-in and creates the devices that none of the known things is;
    // adopt(thing, ui) takes each new thing (and the plug-in's user-interface object, if any).
    void createNewThings(const QList<QAbstractThing *> &known,
                         const std::function<void(QAbstractThing *, QObject *)> &adopt) const;
    // Hands every thing the stored settings of its type.
    void applyStoredSettings(const QList<QAbstractThing *> &things) const;

    QString pluginDirectory() const;
    QString libraryDirectory() const;
    static QString applicationRoot();

    void deinitLibraries();

private:
    bool loadDependencies(const QJsonObject &meta);

    QString m_programDir;
    QHash<QString, AbstractThingType *> m_types;
    QHash<QString, QLibrary *> m_libraries;
    QHash<QString, QJsonObject> m_metadata;
    bool m_deinitDone = false;
};
