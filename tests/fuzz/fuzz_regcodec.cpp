// The registration document codec: any document it decodes re-encodes and decodes to the same
// object. The first byte picks the layer the rest goes in at: the Base64 text itself, or the
// compressed stream (wrapped in Base64 here), or the JSON (compressed and wrapped here).

#include "fuzzsupport.h"
#include "registrationcodec.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_regcodec");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest = FuzzSupport::bytes(data + 1, size - 1);
    QString text;
    switch (data[0] % 3) {
    case 0:
        text = QString::fromLatin1(rest);
        break;
    case 1:
        text = QString::fromLatin1(rest.toBase64(QByteArray::Base64UrlEncoding));
        break;
    default:
        // qCompress puts a 4-byte length before the zlib stream; the wire has none.
        text = QString::fromLatin1(qCompress(rest).mid(4).toBase64(QByteArray::Base64UrlEncoding));
        break;
    }
    const QJsonObject doc = RegistrationCodec::decode(text);
    if (doc.isEmpty())
        return 0;
    const QString again = RegistrationCodec::encode(doc);
    FuzzSupport::require(!again.isNull(), "a decoded document does not encode");
    // Compared as JSON text: Qt keeps an integer beyond 2^53 as an integer when parsing but writes
    // it as a double, so the values differ in kind while the documents say the same.
    const QJsonObject back = RegistrationCodec::decode(again, 1 << 26);
    FuzzSupport::require(QJsonDocument(back).toJson(QJsonDocument::Compact) ==
                             QJsonDocument(doc).toJson(QJsonDocument::Compact),
                         "round trip changed the document");
    return 0;
}
