#include "support/StreamParts.h"

StreamParts::StreamParts(QByteArray delimiter, QByteArray lineBreak)
    : m_delimiter(std::move(delimiter)), m_break(std::move(lineBreak))
{
}

StreamParts &StreamParts::part(const QByteArray &body, qint64 declared)
{
    const QByteArray length = "Content-Length: " + QByteArray::number(declared) + m_break;
    return part(body, declared,
                "Content-Type: image/jpeg" + m_break + (declared == kNoLength ? "" : length));
}

StreamParts &StreamParts::delimiterLine(const char *ending)
{
    const bool lineStart = m_bytes.isEmpty() || m_bytes.endsWith(m_break);
    return raw((lineStart ? "" : m_break) + m_delimiter + ending + m_break);
}

StreamParts &StreamParts::raw(QByteArrayView bytes)
{
    m_bytes.append(bytes.data(), bytes.size());
    return *this;
}

StreamParts &StreamParts::body(const QByteArray &bytes, qint64 declared)
{
    m_parts.append({declared, bytes, (m_bytes += bytes).size()});
    return *this;
}

QByteArray StreamParts::chunked(const QByteArray &body, qsizetype chunkSize)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += chunkSize)
        out += QByteArray::number(body.mid(at, chunkSize).size(), 16) + "\r\n" +
               body.mid(at, chunkSize) + "\r\n";
    return out + "0\r\n\r\n";
}
