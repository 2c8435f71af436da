#include "registrationcodec.h"

#include <QByteArray>
#include <QJsonDocument>

#include <zlib.h>

namespace RegistrationCodec {

QString encode(const QJsonObject &doc)
{
    const QByteArray json = QJsonDocument(doc).toJson(QJsonDocument::Compact);
    // qCompress prefixes the zlib stream with its 4-byte big-endian uncompressed length.
    const QByteArray stream = qCompress(json).mid(4);
    if (stream.size() < 5)
        return QString();
    return QString::fromLatin1(stream.toBase64(QByteArray::Base64UrlEncoding));
}

QJsonObject decode(const QString &text, int maxSize)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return {};
    const QByteArray &in = decoded.decoded;

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return {};
    QByteArray out(qMin(maxSize, qMax(4096, in.size() * 8)), Qt::Uninitialized);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    zs.avail_in = uInt(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (zs.total_out == uLong(out.size())) {
            if (out.size() >= maxSize)
                break;
            out.resize(qMin(maxSize, out.size() * 2));
        }
        zs.next_out = reinterpret_cast<Bytef *>(out.data() + zs.total_out);
        zs.avail_out = uInt(out.size() - int(zs.total_out));
        rc = inflate(&zs, Z_NO_FLUSH);
    }
    const uLong produced = zs.total_out;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return {};
    out.truncate(int(produced));
    return QJsonDocument::fromJson(out).object();
}

} // namespace RegistrationCodec
