#pragma once

#include "support/TestImages.h"

#include <QByteArray>
#include <QList>

// A multipart/x-mixed-replace body built part by part, each part recorded as a
// correct splitter reports it. A line break goes before a delimiter only with
// it, so a part is whole when its body is, as the camera box sends frames.
class StreamParts
{
public:
    struct Part {
        qint64 declared = -1; // the length the headers declare; -1 for none
        QByteArray body;
        qsizetype end = 0; // offset just past the body
    };
    static constexpr qint64 kNoLength = -1;

    explicit StreamParts(QByteArray delimiter = "--myboundary", QByteArray lineBreak = "\r\n");

    StreamParts &part(const QByteArray &body) { return part(body, body.size()); }
    // With a Content-Length of declared, or none for kNoLength.
    StreamParts &part(const QByteArray &body, qint64 declared);
    // With these header lines, each with its line break, that declare declared.
    StreamParts &part(const QByteArray &body, qint64 declared, const QByteArray &headers)
    {
        return delimiterLine("").raw(headers + m_break).body(body, declared);
    }
    StreamParts &close() { return delimiterLine("--"); }
    // Bytes of the test's own, and a body the splitter should report.
    StreamParts &raw(QByteArrayView bytes);
    StreamParts &body(const QByteArray &bytes, qint64 declared);

    const QByteArray &bytes() const { return m_bytes; }
    const QList<Part> &parts() const { return m_parts; }

    // The status line and headers of an answer, with the blank line.
    static QByteArray httpHead(const QByteArray &contentType, const QByteArray &headers = {})
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n" + headers +
               "Connection: close\r\n\r\n";
    }
    // body in HTTP chunked transfer coding, up to chunkSize bytes a chunk.
    static QByteArray chunked(const QByteArray &body, qsizetype chunkSize);
    // Test frame i: a small JPEG of a size of its own, 24 + 8 i pixels wide.
    static QByteArray frame(int i) { return testimages::jpeg(24 + 8 * i, 16 + 4 * i, i); }

private:
    StreamParts &delimiterLine(const char *ending);
    QByteArray m_delimiter, m_break, m_bytes;
    QList<Part> m_parts;
};
