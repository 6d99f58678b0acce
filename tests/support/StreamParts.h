#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>

// A multipart/x-mixed-replace body as servers send it, built part by part,
// with each part recorded as a correct splitter reports it.
class StreamParts
{
public:
    enum class Layout {
        BodyThenBreak,  // delimiter line, headers, body, line break: most servers
        BreakThenFrame, // line break, delimiter line, headers, body: the camera box,
                        // which sends nothing after a frame until the next one
    };
    struct Part {
        qint64 declared = -1; // as the splitter reads the headers; -1 for none
        QByteArray body;
        qsizetype end = 0; // offset just past the body in bytes()
    };
    static constexpr qint64 kNoLength = -1;

    explicit StreamParts(Layout layout = Layout::BodyThenBreak,
                         QByteArray delimiter = "--myboundary", QByteArray lineBreak = "\r\n");

    // A part whose headers declare the body's length.
    StreamParts &part(const QByteArray &body) { return part(body, body.size()); }
    // A part with a Content-Length of declared, or none for kNoLength.
    StreamParts &part(const QByteArray &body, qint64 declared);
    // A part with these header lines, each with its line break; the splitter
    // should read declared from them.
    StreamParts &part(const QByteArray &body, qint64 declared, const QByteArray &headers);
    // The closing delimiter line.
    StreamParts &close();
    // Framing bytes of the test's own, and a body the splitter should report.
    StreamParts &raw(QByteArrayView bytes);
    StreamParts &body(const QByteArray &bytes, qint64 declared);

    const QByteArray &bytes() const { return m_bytes; }
    const QList<Part> &parts() const { return m_parts; }

    // The status line and headers of a stream answer, with the blank line.
    static QByteArray httpHead(const QByteArray &contentType, const QByteArray &headers = {});
    // body in HTTP chunked transfer coding, chunkSize bytes a chunk.
    static QByteArray chunked(const QByteArray &body, qsizetype chunkSize);
    // Test frame i: a small JPEG of its own size, frameSize(i).
    static QByteArray frame(int i);
    static QSize frameSize(int i) { return {24 + 8 * i, 16 + 4 * i}; }

private:
    Layout m_layout;
    QByteArray m_delimiter;
    QByteArray m_break;
    QByteArray m_bytes;
    QList<Part> m_parts;
};
