#include "settingskeys.h"

namespace Key {

QString plugin(const QString &type, const QString &setting)
{
    return pluginPrefix(type) + setting;
}

QString pluginPrefix(const QString &type)
{
    return QStringLiteral("%1/%2/").arg(QLatin1String(PluginsGroup), type);
}

} // namespace Key
