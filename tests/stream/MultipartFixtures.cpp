#include "stream/MultipartFixtures.h"

#include "support/TestImages.h"

#include <QHash>

namespace fixtures
{

StreamBuilder &StreamBuilder::raw(QByteArrayView bytes)
{
    m_stream.append(bytes.data(), bytes.size());
    return *this;
}

StreamBuilder &StreamBuilder::body(const QByteArray &bytes, qint64 declared, QSize jpegSize)
{
    m_stream.append(bytes);
    m_parts.append({declared, bytes, m_stream.size(), jpegSize});
    return *this;
}

Framing StreamBuilder::done(const QString &name, const QByteArray &contentType) const
{
    return {name, contentType, m_stream, m_parts};
}

QSize frameSize(int index)
{
    return {24 + 8 * index, 16 + 4 * index};
}

QByteArray frameJpeg(int index)
{
    static QHash<int, QByteArray> cache;
    auto it = cache.find(index);
    if (it == cache.end()) {
        const QSize size = frameSize(index);
        it = cache.insert(index, testimages::jpeg(size.width(), size.height(), index));
    }
    return *it;
}

QByteArray trickyBody(int length)
{
    static const char *const pieces[] = {
        "\r\n--myboundar",
        "\r\n--myboundaryX\r\n",
        " --myboundary\r\n",
        "\r\n--myboundary--X",
        "\r\n-",
        "\n--",
        "\r\n--myboundary \t X",
        "\r\r\n",
        "\r\n\r\n",
        "\r\n------------------------------myboundary\r\n",
        "myboundary",
        "\xFF\xD9",
        "\xFF",
        "--myboundary",
    };
    QByteArray out("--myboundar!");
    for (int i = 0; out.size() < length - 2; ++i) {
        out.append(pieces[i % std::size(pieces)]);
        out.append(char('a' + i % 26));
        out.append(char(0x80 + (i * 7) % 100));
    }
    out.truncate(length - 2);
    out.append("ZZ"); // never a delimiter's start, never an end-of-image marker
    return out;
}

namespace
{

QByteArray num(qint64 n)
{
    return QByteArray::number(n);
}

QByteArray jpegHeaders(qint64 length)
{
    return "Content-Type: image/jpeg\r\nContent-Length: " + num(length) + "\r\n\r\n";
}

// The layout most servers use: delimiter, headers, body, CRLF; a closing
// delimiter at the end.
Framing standard(const QString &name, const QByteArray &contentType, const QByteArray &delimiter,
                 int parts, bool closing)
{
    StreamBuilder b;
    for (int i = 0; i < parts; ++i) {
        const QByteArray jpeg = frameJpeg(i);
        b.raw(delimiter + "\r\n")
            .raw(jpegHeaders(jpeg.size()))
            .body(jpeg, jpeg.size(), frameSize(i));
        b.raw("\r\n");
    }
    if (closing)
        b.raw(delimiter + "--\r\n");
    return b.done(name, contentType);
}

} // namespace

QList<Framing> framings(bool jpegOnly)
{
    QList<Framing> out;
    out << standard("quoted boundary, space after semicolon",
                    R"(multipart/x-mixed-replace; boundary="myboundary")", "--myboundary", 3, true);
    out << standard("unquoted boundary, no space after semicolon",
                    "multipart/x-mixed-replace;boundary=myboundary", "--myboundary", 3, true);
    out << standard("boundary declared with dashes, sent with two",
                    "multipart/x-mixed-replace;boundary=--myboundary", "--myboundary", 3, true);
    out << standard("boundary declared with dashes and quotes, sent with four",
                    R"(multipart/x-mixed-replace; boundary="--myboundary")", "----myboundary", 3,
                    true);
    out << standard("no closing delimiter", "multipart/x-mixed-replace;boundary=myboundary",
                    "--myboundary", 3, false);
    const QByteArray ct = "multipart/x-mixed-replace;boundary=myboundary";

    {
        StreamBuilder b;
        const QList<QByteArray> heads = {
            "CONTENT-TYPE: image/jpeg\r\nCONTENT-LENGTH: %1\r\n\r\n",
            "content-type: image/jpeg\r\ncontent-length:    %1    \r\n\r\n",
            "Content-type: image/jpeg\r\nContent-length:\t%1\t\r\n\r\n",
            "X-Timestamp: 1.5\r\ncOnTeNt-LeNgTh : %1\r\n\r\n",
        };
        for (int i = 0; i < heads.size(); ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary\r\n").raw(QByteArray(heads[i]).replace("%1", num(jpeg.size())));
            b.body(jpeg, jpeg.size(), frameSize(i)).raw("\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("header names in any case, padded lengths", ct);
    }
    for (const auto &[name, preamble] :
         {std::pair{"preamble before the first delimiter",
                    QByteArray("This is the preamble; myboundary and --myboundary mid-line are "
                               "no delimiters.\r\n--myboundaryX\r\n\r\n")},
          std::pair{"blank lines before the first delimiter", QByteArray("\r\n\r\n\r\n")}}) {
        Framing f = standard(name, ct, "--myboundary", 3, true);
        f.stream.prepend(preamble);
        for (ExpectedPart &p : f.parts)
            p.endOffset += preamble.size();
        out << f;
    }
    {
        // Each write is one frame: the delimiter comes only just before the
        // next picture, and nothing follows the last one.
        StreamBuilder b;
        for (int i = 0; i < 4; ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("\r\n--myboundary\r\n").raw(jpegHeaders(jpeg.size()));
            b.body(jpeg, jpeg.size(), frameSize(i));
        }
        out << b.done("delimiter only just before each frame", ct);
    }
    {
        StreamBuilder b;
        for (int i = 0; i < 3; ++i) {
            b.raw("--myboundary\r\nContent-Type: image/jpeg\r\n\r\n");
            b.body(frameJpeg(i), -1, frameSize(i)).raw("\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("parts without Content-Length", ct);
    }
    {
        StreamBuilder b;
        const QList<QByteArray> lengths = {
            "", "+500", "", "-100", "12abc", "999999999999999999", "4611686018427387904", "-1", ""};
        for (int i = 0; i < lengths.size(); ++i) {
            const QByteArray jpeg = frameJpeg(i);
            qint64 declared = jpeg.size();
            QByteArray text = num(declared);
            if (lengths[i].startsWith('+') || lengths[i].startsWith('-')) {
                if (lengths[i] == "-1") {
                    text = "-1";
                    declared = -1;
                } else {
                    declared += lengths[i].toLongLong();
                    text = num(declared);
                }
            } else if (!lengths[i].isEmpty()) {
                text = lengths[i];
                bool ok = false;
                declared = text.toLongLong(&ok);
                if (!ok || text.size() > 18)
                    declared = -1; // unreadable
            }
            b.raw("--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + text +
                  "\r\n\r\n");
            b.body(jpeg, declared, frameSize(i)).raw("\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("wrong or unreadable declared lengths", ct);
    }
    {
        StreamBuilder b;
        for (int i = 0; i < 3; ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary\nContent-Type: image/jpeg\nContent-Length: " + num(jpeg.size()) +
                  "\n\n");
            b.body(jpeg, jpeg.size(), frameSize(i)).raw("\n");
        }
        out << b.raw("--myboundary--\n").done("LF line endings", ct);
    }
    {
        StreamBuilder b;
        for (int i = 0; i < 3; ++i)
            b.raw("--myboundary\r\n").body(frameJpeg(i), -1, frameSize(i)).raw("\r\n");
        out << b.raw("--myboundary--\r\n").done("parts without headers", ct);
    }
    for (const auto &[name, between] :
         {std::pair{"delimiter before and after every frame", QByteArray("\r\n--myboundary\r\n")},
          std::pair{"delimiter lines with a blank line between",
                    QByteArray("\r\n--myboundary\r\n\r\n")}}) {
        StreamBuilder b;
        for (int i = 0; i < 3; ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary\r\n").raw(jpegHeaders(jpeg.size()));
            b.body(jpeg, jpeg.size(), frameSize(i)).raw(between);
        }
        out << b.done(name, ct);
    }
    {
        StreamBuilder b;
        const QList<QByteArray> pads = {"   ", "\t", " \t "};
        for (int i = 0; i < pads.size(); ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary" + pads[i] + "\r\n").raw(jpegHeaders(jpeg.size()));
            b.body(jpeg, jpeg.size(), frameSize(i)).raw("\r\n");
        }
        out << b.raw("--myboundary-- \r\n").done("blanks after the boundary", ct);
    }
    {
        StreamBuilder b;
        for (int i = 0; i < 3; ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary\r\n").raw(jpegHeaders(jpeg.size()));
            b.body(jpeg, jpeg.size(), frameSize(i)).raw("\r\n\r\n\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("blank lines after each body", ct);
    }
    {
        StreamBuilder b;
        b.raw("--myboundary\r\nContent-Length: 0\r\n\r\n").body({}, 0).raw("\r\n");
        for (int i = 0; i < 2; ++i) {
            const QByteArray jpeg = frameJpeg(i);
            b.raw("--myboundary\r\n").raw(jpegHeaders(jpeg.size()));
            b.body(jpeg, jpeg.size(), frameSize(i)).raw("\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("an empty part", ct);
    }
    if (jpegOnly)
        return out;

    {
        StreamBuilder b;
        for (int length : {300, 1000, 57}) {
            const QByteArray body = trickyBody(length);
            b.raw("--myboundary\r\nContent-Length: " + num(length) + "\r\n\r\n")
                .body(body, length)
                .raw("\r\n");
        }
        out << b.raw("--myboundary--\r\n").done("boundary look-alikes in bodies", ct);
    }
    {
        StreamBuilder b;
        for (int length : {300, 1000, 57}) {
            b.raw("--myboundary\nContent-Type: application/octet-stream\n\n");
            b.body(trickyBody(length), -1).raw("\n");
        }
        out << b.raw("--myboundary--\n").done("boundary look-alikes in bodies, LF, no lengths", ct);
    }
    return out;
}

QByteArray chunked(const QByteArray &body, qsizetype chunkSize)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray piece = body.mid(at, chunkSize);
        out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace fixtures
