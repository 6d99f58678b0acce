#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

// Multipart/x-mixed-replace bodies in the framings that servers in the field
// send, each with the parts a correct splitter must find in it. Shared by the
// splitter, transport and client tests.
namespace fixtures
{

struct ExpectedPart {
    qint64 declared = -1;    // what the part's headers declare (-1: nothing usable)
    QByteArray bytes;        // the part's body, exactly
    qsizetype endOffset = 0; // offset in the stream just after the body's last byte
    QSize jpegSize;          // the picture's size when the body is a test JPEG
    bool lengthRight() const { return declared == bytes.size(); }
};

struct Framing {
    QString name;
    QByteArray contentType; // the HTTP Content-Type value that declares the boundary
    QByteArray stream;      // the HTTP body
    QList<ExpectedPart> parts;
};

// Builds a stream from framing bytes and part bodies, recording where each
// body ends.
class StreamBuilder
{
public:
    StreamBuilder &raw(QByteArrayView bytes);
    StreamBuilder &body(const QByteArray &bytes, qint64 declared, QSize jpegSize = {});
    Framing done(const QString &name, const QByteArray &contentType) const;

private:
    QByteArray m_stream;
    QList<ExpectedPart> m_parts;
};

// A small test JPEG of a distinct size per index: index i is
// (24 + 8 i) x (16 + 4 i), so a delivered frame's size tells which part it was.
QByteArray frameJpeg(int index);
QSize frameSize(int index);

// Bytes that are not a picture, end in neither 0xFF 0xD9 nor a line break,
// and carry pieces of the boundary "myboundary" that are no delimiter.
QByteArray trickyBody(int length);

// Every framing, with JPEG bodies throughout (jpegOnly) or with some
// non-picture bodies mixed in that stress the delimiter search.
QList<Framing> framings(bool jpegOnly);

// The same body sent with HTTP chunked transfer coding, chunkSize bytes per
// chunk, ended by the last chunk.
QByteArray chunked(const QByteArray &body, qsizetype chunkSize);

} // namespace fixtures
