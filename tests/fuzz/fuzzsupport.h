#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: one application object with a private, throw-away profile, so
// settings and credential files written by the readers never touch the user's.
namespace FuzzSupport {

// Makes the application object (once) and points HOME and the XDG folders at a temporary folder
// that is removed at exit.
void initApplication(int *argc, char ***argv, const char *name);
// The temporary folder of this process.
QString scratchPath(const QString &name);

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// Stops the run with a message when a property does not hold; libFuzzer records the input.
[[noreturn]] void fail(const char *what);
inline void require(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

} // namespace FuzzSupport
