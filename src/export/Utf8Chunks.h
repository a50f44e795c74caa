#pragma once

#include <QByteArray>
#include <QString>

namespace trimora {

// Decodes a byte stream that arrives in arbitrary pieces. A multi-byte
// character cut at the end of a piece is held back and joined to the next
// one; bytes that can never be UTF-8 become U+FFFD instead of costing the
// text around them.
class Utf8ChunkDecoder
{
public:
    QString decode(const QByteArray &bytes);
    // End of stream: a held, never completed sequence becomes U+FFFD.
    QString finish();

private:
    QByteArray m_pending;
};

// Length of a trailing sequence of data that is a valid but incomplete start
// of a multi-byte character (0 when data ends on a boundary).
qsizetype incompleteUtf8TailLength(const QByteArray &data);

} // namespace trimora
