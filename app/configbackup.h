#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>

class GatewayThing;

// The configuration backup file: a little-endian header and section table followed by the
// sections — the settings stream, the client certificate (DER) and the private key (DER, clear).
namespace ConfigBackup {

enum Tag : quint32 { SettingsTag = 0x104201, CertificateTag = 0x104202, KeyTag = 0x104203 };
constexpr quint32 FormatVersion = 0x200;

struct Section
{
    quint32 tag = 0;
    QByteArray data;
};

// Writes every setting and the gateway's credentials to file, atomically and readable by the
// owner only. Returns the message to show, or an empty string on success.
QString write(const QString &file, const GatewayThing *gateway);

// Reads and checks a backup: the layout, and every known section's content (the settings stream
// parses and comes from this or an older version, the certificate and the key parse). On success
// the known sections are returned in table order and the message is empty; on failure nothing is
// returned and the message says why.
QString read(const QString &file, QList<Section> *sections);

// Reads a backup and applies it: the settings (beforeSettings runs first), the certificate and the
// key of the gateway. Returns the message to show, or an empty string on success.
QString restore(const QString &file, GatewayThing *gateway, const std::function<void()> &beforeSettings);

} // namespace ConfigBackup
