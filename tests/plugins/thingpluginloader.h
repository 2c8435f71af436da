#pragma once

#include "abstractthingtype.h"

#include <QJsonObject>
#include <QPluginLoader>
#include <QString>

#include <memory>

// Loads a built thing plug-in the way the gateway does: from the build tree's plugins/ folder,
// cast by the interface id.
struct ThingPluginLoader
{
    std::unique_ptr<QPluginLoader> loader;
    AbstractThingType *type = nullptr;

    explicit ThingPluginLoader(const QString &baseName)
    {
        const QString dir = qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/plugins/");
        loader.reset(new QPluginLoader(dir + baseName));
        QObject *root = loader->instance();
        type = root ? qobject_cast<AbstractThingType *>(root) : nullptr;
    }

    QString errorString() const { return loader->errorString(); }
    QJsonObject metaData() const { return loader->metaData(); }
};
