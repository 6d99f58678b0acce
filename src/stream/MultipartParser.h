#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// Cuts a multipart/x-mixed-replace body into parts.
//
// Each part is reported as a start, with the length its Content-Length header
// declares (-1 when it declares none or an unreadable one), followed by its
// body bytes in one or more chunks, without delimiter lines or part headers.
// Parts end at the delimiter, never by the declared length: a wrong length
// costs that one part, and the stream goes on.
//
// It copes with what servers in the field send: a boundary declared with or
// without quotes or leading dashes, header names in any case, padded values,
// a preamble or blank lines before the first delimiter, parts with no
// headers at all, and no closing delimiter. Bytes that could be the start of
// a delimiter are held back until the next chunk decides, and so is a
// trailing 0xFF, so that a JPEG end-of-image marker is never split over two
// chunks; a part's last bytes are never held back once its declared length
// is reached, so a frame is not delayed until the next delimiter arrives.
//
// Not thread-safe; one instance per transfer. Memory held between calls
// (heldBytes) is bounded: by kMaxHeaderBytes while reading a part's headers,
// by kMaxBlankHold while blank bytes after a complete part wait for the
// delimiter, otherwise by a delimiter line's length; each plus the boundary.
class MultipartParser
{
public:
    struct Handlers {
        std::function<void(qint64 declaredLength)> partStarted;
        // The view is valid only during the call.
        std::function<void(QByteArrayView bytes)> partData;
    };

    static constexpr qsizetype kMaxHeaderBytes = 16 * 1024;
    // Blank bytes after a part's declared length are held at most this long
    // while waiting for the delimiter; past it they are handed on as body.
    static constexpr qsizetype kMaxBlankHold = 64 * 1024;

    // boundary: the Content-Type's boundary parameter, as declared.
    // An empty boundary makes the whole body one part of declaredLength.
    MultipartParser(QByteArrayView boundary, Handlers handlers, qint64 declaredLength = -1);

    // The boundary parameter of a Content-Type header value, unquoted; empty
    // when there is none.
    static QByteArray boundaryFromContentType(QByteArrayView contentType);

    void feed(QByteArrayView bytes);

    // The body has ended: hand on what was held back for the last part.
    void finish();

    qint64 partCount() const { return m_partCount; }
    // Bytes carried over to the next feed.
    qsizetype heldBytes() const { return m_pending.size(); }

private:
    enum class State { Preamble, Headers, Body, Single };
    enum class Match { None, Partial, Full };
    struct Delimiter {
        Match match = Match::None;
        qsizetype lineStart = 0; // first byte of the line break before the dashes
        qsizetype end = 0;       // first byte after the delimiter line
        bool closing = false;
    };

    Delimiter findDelimiter(QByteArrayView data, qsizetype from, bool lineStartAt0) const;
    qsizetype holdFrom(QByteArrayView data, qsizetype from, bool lineStartAt0) const;
    bool couldStartDelimiter(QByteArrayView suffix, bool atLineStart) const;

    qsizetype consumePreamble(QByteArrayView data, bool lineStartAt0);
    qsizetype consumeHeaders(QByteArrayView data);
    qsizetype consumeBody(QByteArrayView data, bool lineStartAt0);
    void startPart(qint64 declared);
    void emitBody(QByteArrayView bytes, bool partEnds);

    QByteArray m_core; // the boundary without leading dashes
    Handlers m_handlers;
    State m_state;
    QByteArray m_pending; // bytes carried over to the next feed
    bool m_pendingAtLineStart = true;
    bool m_needMore = false; // the last consume step waits for more bytes
    qint64 m_declared = -1;  // the current part's declared length
    qint64 m_emitted = 0;    // body bytes of the current part handed on
    qint64 m_partCount = 0;
};
