#include "export/Utf8Chunks.h"

namespace trimora {

namespace {

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Expected length of the sequence that lead starts, 0 if lead cannot start one.
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// The second byte's narrower ranges exclude overlong forms, surrogates and
// values above U+10FFFF.
bool validSecondByte(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xE0:
        return second >= 0xA0 && second <= 0xBF;
    case 0xED:
        return second >= 0x80 && second <= 0x9F;
    case 0xF0:
        return second >= 0x90 && second <= 0xBF;
    case 0xF4:
        return second >= 0x80 && second <= 0x8F;
    default:
        return isContinuation(second);
    }
}

} // namespace

qsizetype incompleteUtf8TailLength(const QByteArray &data)
{
    const qsizetype size = data.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if (isContinuation(byte))
            continue;
        const int length = sequenceLength(byte);
        if (length <= back)
            return 0;
        if (back >= 2 && !validSecondByte(byte, static_cast<unsigned char>(data[size - back + 1])))
            return 0;
        for (qsizetype i = size - back + 2; i < size; ++i) {
            if (!isContinuation(static_cast<unsigned char>(data[i])))
                return 0;
        }
        return back;
    }
    return 0;
}

QString Utf8ChunkDecoder::decode(const QByteArray &bytes)
{
    m_pending.append(bytes);
    const qsizetype tail = incompleteUtf8TailLength(m_pending);
    const qsizetype complete = m_pending.size() - tail;
    // QString::fromUtf8 turns every invalid sequence into U+FFFD.
    QString text = QString::fromUtf8(m_pending.constData(), complete);
    m_pending.remove(0, complete);
    return text;
}

QString Utf8ChunkDecoder::finish()
{
    QString text = QString::fromUtf8(m_pending);
    m_pending.clear();
    return text;
}

} // namespace trimora
