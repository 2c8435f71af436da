#pragma once

#include <QJsonObject>
#include <QString>

// The registrar's request document on the wire: compact JSON, compressed into a plain zlib
// stream, in URL-safe Base64 with padding.
namespace RegistrationCodec {

// Null when the compressed stream would be implausibly short.
QString encode(const QJsonObject &doc);
// Empty object when the text is not such a document (bad Base64, bad or oversized zlib stream,
// not a JSON object).
QJsonObject decode(const QString &text, int maxSize = 1 << 20);

} // namespace RegistrationCodec
