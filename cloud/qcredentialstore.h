#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// The two credential files of the gateway in the user's application data directory: where they
// are, how they are read and how they are replaced. The directory is private to the user (0700),
// the files too (0600), and every write replaces a file atomically.
class QCredentialStore
{
public:
    static const char KeyFile[];
    static const char CertFile[];

    // The credential directory, created (with missing parents) when it does not exist yet.
    static QString directory();
    static QString filePath(const QString &name);

    // The built-in pass phrase under which the key file is encrypted.
    static QByteArray passPhrase();

    enum class ReadResult { Missing, Unreadable, Read };
    static ReadResult readFile(const QString &name, QByteArray *content);

    static QSslKey keyFromPem(const QByteArray &encryptedPem);
    static QSslCertificate certificateFromPem(const QByteArray &pem);
    // Key and certificate as they stand on disk; null when missing, unreadable or invalid.
    static QSslKey storedKey();
    static QSslCertificate storedCertificate();

    // Replaces one file atomically with mode 0600; false when it could not be written.
    static bool writeFile(const QString &name, const QByteArray &content);

    // Replaces two files together: when the second cannot be written the first is put back as it
    // was. Returns 0 on success, else 1 or 2 for the file that failed.
    static int writePair(const QString &first, const QByteArray &firstContent, const QString &second,
                         const QByteArray &secondContent);

    static bool removeFile(const QString &name);
};
