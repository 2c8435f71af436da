#include "qcredentialstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

const char QCredentialStore::KeyFile[] = "tsgatew.key";
const char QCredentialStore::CertFile[] = "tsgatew.cert";

namespace {
constexpr QFileDevice::Permissions PrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions PrivateDirectory = PrivateFile | QFileDevice::ExeOwner;

// 42 bytes, none of them zero: Qt hands the pass phrase to OpenSSL's PEM reader as a C string, so
// a zero byte would cut it short when reading while the full length is used when writing.
constexpr unsigned char KeyPassPhrase[42] = {
    0x9c, 0x3e, 0x71, 0xd2, 0x05, 0xab, 0x48, 0xf6, 0x1d, 0x83, 0xe9, 0x27, 0x6a, 0xb5,
    0x30, 0xcf, 0x92, 0x5e, 0x0b, 0xf1, 0x64, 0xa8, 0x3b, 0xde, 0x17, 0x89, 0xc4, 0x52,
    0xee, 0x09, 0x7d, 0xb3, 0x46, 0x91, 0x2c, 0xfa, 0x68, 0x15, 0xd7, 0x8e, 0x33, 0xa0,
};

bool saveFile(const QString &path, const QByteArray &content, QSaveFile *file)
{
    file->setFileName(path);
    if (!file->open(QIODevice::WriteOnly))
        return false;
    // QSaveFile creates its temporary file with the umask's mode: make it private before writing.
    if (!file->setPermissions(PrivateFile))
        return false;
    return file->write(content) == content.size();
}
} // namespace

QString QCredentialStore::directory()
{
    const QString dir = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation).value(0);
    if (!dir.isEmpty() && !QFileInfo::exists(dir)) {
        QDir().mkpath(QFileInfo(dir).absolutePath());
        // Created private from the start rather than tightened afterwards.
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
        QFile::setPermissions(dir, PrivateDirectory);
    }
    return dir;
}

QString QCredentialStore::filePath(const QString &name)
{
    return directory() + QDir::separator() + name;
}

QByteArray QCredentialStore::passPhrase()
{
    // A deep copy: Qt reads the phrase up to its terminating zero, which fromRawData would lack.
    return QByteArray(reinterpret_cast<const char *>(KeyPassPhrase), sizeof(KeyPassPhrase));
}

QCredentialStore::ReadResult QCredentialStore::readFile(const QString &name, QByteArray *content)
{
    QFile file(filePath(name));
    if (!file.exists())
        return ReadResult::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::Unreadable;
    *content = file.readAll();
    return ReadResult::Read;
}

QSslKey QCredentialStore::keyFromPem(const QByteArray &encryptedPem)
{
    return QSslKey(encryptedPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, passPhrase());
}

QSslCertificate QCredentialStore::certificateFromPem(const QByteArray &pem)
{
    return QSslCertificate(pem, QSsl::Pem);
}

QSslKey QCredentialStore::storedKey()
{
    QByteArray pem;
    if (readFile(QLatin1String(KeyFile), &pem) != ReadResult::Read)
        return QSslKey();
    return keyFromPem(pem);
}

QSslCertificate QCredentialStore::storedCertificate()
{
    QByteArray pem;
    if (readFile(QLatin1String(CertFile), &pem) != ReadResult::Read)
        return QSslCertificate();
    return certificateFromPem(pem);
}

bool QCredentialStore::writeFile(const QString &name, const QByteArray &content)
{
    QSaveFile file;
    return saveFile(filePath(name), content, &file) && file.commit();
}

int QCredentialStore::writePair(const QString &first, const QByteArray &firstContent, const QString &second,
                                const QByteArray &secondContent)
{
    QByteArray previous;
    const bool hadPrevious = readFile(first, &previous) == ReadResult::Read;

    QSaveFile firstFile;
    if (!saveFile(filePath(first), firstContent, &firstFile))
        return 1;
    QSaveFile secondFile;
    if (!saveFile(filePath(second), secondContent, &secondFile))
        return 2;
    if (!firstFile.commit())
        return 1;
    if (!secondFile.commit()) {
        if (hadPrevious)
            writeFile(first, previous);
        else
            removeFile(first);
        return 2;
    }
    return 0;
}

bool QCredentialStore::removeFile(const QString &name)
{
    const QString path = filePath(name);
    return !QFileInfo::exists(path) || QFile::remove(path);
}
