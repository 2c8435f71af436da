#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
QString g_root;

void removeRoot()
{
    if (!g_root.isEmpty()) {
        std::error_code ignored;
        std::filesystem::remove_all(g_root.toStdString(), ignored);
    }
}
} // namespace

namespace FuzzSupport {

void initApplication(int *argc, char ***argv, const char *name)
{
    if (QCoreApplication::instance())
        return;
    // In memory where the machine has a writable tmpfs: the readers write settings for nearly every
    // input, and a disk's synchronous writes would cost more than the readers themselves.
    QByteArray pattern = "/dev/shm/tsl-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        pattern = "/tmp/tsl-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            fail("cannot make a temporary profile");
    }
    g_root = QString::fromLocal8Bit(pattern);
    std::atexit(removeRoot);
    const QByteArray root = g_root.toLocal8Bit();
    for (const char *sub : {"config", "data", "cache", "run"})
        QDir().mkpath(g_root + QLatin1Char('/') + QLatin1String(sub));
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").constData(), 1);
    // Lives until exit: the readers under test need it for every input.
    new QCoreApplication(*argc, *argv);
    QCoreApplication::setOrganizationName(QStringLiteral("tsl-fuzz"));
    QCoreApplication::setApplicationName(QString::fromLatin1(name));
}

QString scratchPath(const QString &name)
{
    return g_root + QLatin1Char('/') + name;
}

void fail(const char *what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

} // namespace FuzzSupport
