#include "stream/MultipartParser.h"

#include <QList>

#include <algorithm>
#include <limits>

namespace
{

// Servers put up to this many dashes before the boundary ("--", plus any the
// Content-Type already declared).
constexpr qsizetype kMaxDashes = 16;

bool isBlank(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; });
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\r'))
        v = v.sliced(1);
    while (!v.isEmpty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.chop(1);
    return v;
}

qint64 parseLength(QByteArrayView value)
{
    value = trimmed(value);
    if (value.isEmpty() || value.size() > 18)
        return -1;
    qint64 n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Just past the blank line that ends a header block ("\n\r\n" or "\n\n"),
// or -1. One pass: searching the whole read for each pattern in turn would
// scan everything after a part's headers once per part, quadratic in a
// stream of small parts.
qsizetype headerBlockEnd(QByteArrayView data)
{
    for (qsizetype i = data.indexOf('\n'); i >= 0 && i + 1 < data.size();
         i = data.indexOf('\n', i + 1)) {
        if (data[i + 1] == '\n')
            return i + 2;
        if (data[i + 1] == '\r' && i + 2 < data.size() && data[i + 2] == '\n')
            return i + 3;
    }
    return -1;
}

QByteArrayView stripDashes(QByteArrayView v)
{
    while (v.startsWith('-'))
        v = v.sliced(1);
    return v;
}

} // namespace

MultipartParser::MultipartParser(QByteArrayView boundary, Handlers handlers, qint64 declaredLength)
    : m_core(stripDashes(boundary).toByteArray()), m_handlers(std::move(handlers)),
      m_state(m_core.isEmpty() ? State::Single : State::Preamble), m_declared(declaredLength)
{
}

QByteArray MultipartParser::boundaryFromContentType(QByteArrayView contentType)
{
    const QByteArray lower = contentType.toByteArray().toLower();
    qsizetype at = 0;
    while ((at = lower.indexOf("boundary", at)) >= 0) {
        // Only a parameter name: preceded by ';', ',' or blanks.
        qsizetype before = at - 1;
        while (before >= 0 && (lower[before] == ' ' || lower[before] == '\t'))
            --before;
        qsizetype after = at + 8;
        while (after < lower.size() && (lower[after] == ' ' || lower[after] == '\t'))
            ++after;
        if ((before >= 0 && lower[before] != ';' && lower[before] != ',') ||
            after >= lower.size() || lower[after] != '=') {
            at += 8;
            continue;
        }
        QByteArrayView value = contentType.sliced(after + 1);
        while (value.startsWith(' ') || value.startsWith('\t'))
            value = value.sliced(1);
        if (value.startsWith('"')) {
            value = value.sliced(1);
            const qsizetype close = value.indexOf('"');
            return (close < 0 ? value : value.first(close)).toByteArray();
        }
        qsizetype end = 0;
        while (end < value.size() && value[end] != ';' && value[end] != ',' && value[end] != ' ' &&
               value[end] != '\t' && value[end] != '\r' && value[end] != '\n')
            ++end;
        return value.first(end).toByteArray();
    }
    return {};
}

MultipartParser::Delimiter MultipartParser::findDelimiter(QByteArrayView data, qsizetype from,
                                                          bool lineStartAt0) const
{
    qsizetype i = from;
    while ((i = data.indexOf(m_core, i)) >= 0) {
        qsizetype j = i;
        while (j > 0 && data[j - 1] == '-' && i - j < kMaxDashes)
            --j;
        const bool atLineStart = j == 0 ? lineStartAt0 : data[j - 1] == '\n';
        if (i - j < 2 || !atLineStart) {
            ++i;
            continue;
        }
        Delimiter d;
        d.lineStart = j;
        if (j > 0) {
            d.lineStart = j - 1;
            if (d.lineStart > 0 && data[d.lineStart - 1] == '\r')
                --d.lineStart;
        }
        qsizetype k = i + m_core.size();
        if (k + 1 < data.size() && data[k] == '-' && data[k + 1] == '-') {
            d.closing = true;
            k += 2;
        } else if (k + 1 == data.size() && data[k] == '-') {
            d.match = Match::Partial;
            return d;
        }
        while (k < data.size() && (data[k] == ' ' || data[k] == '\t') && k - i < 256)
            ++k;
        if (k == data.size() || (data[k] == '\r' && k + 1 == data.size())) {
            d.match = Match::Partial;
            return d;
        }
        if (data[k] == '\n' || (data[k] == '\r' && data[k + 1] == '\n')) {
            d.end = k + (data[k] == '\n' ? 1 : 2);
            d.match = Match::Full;
            return d;
        }
        ++i; // the boundary text inside other bytes; keep looking
    }
    return {};
}

bool MultipartParser::couldStartDelimiter(QByteArrayView s, bool atLineStart) const
{
    if (s.startsWith('\r')) {
        s = s.sliced(1);
        if (s.isEmpty())
            return true;
        if (s.front() != '\n')
            return false;
        s = s.sliced(1);
    } else if (s.startsWith('\n')) {
        s = s.sliced(1);
    } else if (!atLineStart || s.isEmpty()) {
        return false;
    }
    qsizetype dashes = 0;
    while (dashes < s.size() && s[dashes] == '-')
        ++dashes;
    if (dashes > kMaxDashes)
        return false;
    const QByteArrayView rest = s.sliced(dashes);
    if (rest.isEmpty())
        return true;
    return dashes >= 2 && rest.size() < m_core.size() && QByteArrayView(m_core).startsWith(rest);
}

qsizetype MultipartParser::holdFrom(QByteArrayView data, qsizetype from, bool lineStartAt0) const
{
    const qsizetype window = m_core.size() + kMaxDashes + 2;
    for (qsizetype p = std::max(from, data.size() - window); p < data.size(); ++p) {
        const bool atLineStart = p == 0 ? lineStartAt0 : data[p - 1] == '\n';
        if (couldStartDelimiter(data.sliced(p), atLineStart))
            return p;
    }
    return data.size();
}

void MultipartParser::startPart(qint64 declared)
{
    m_declared = declared;
    m_emitted = 0;
    ++m_partCount;
    if (m_handlers.partStarted)
        m_handlers.partStarted(declared);
}

void MultipartParser::emitBody(QByteArrayView bytes, bool partEnds)
{
    if (partEnds && m_declared >= 0) {
        // Blank lines some servers add after the body are not part of it.
        const qint64 room = m_declared - m_emitted;
        if (room >= 0 && bytes.size() > room && isBlank(bytes.sliced(room)))
            bytes = bytes.first(room);
    }
    if (bytes.isEmpty())
        return;
    m_emitted += bytes.size();
    if (m_handlers.partData)
        m_handlers.partData(bytes);
}

qsizetype MultipartParser::consumePreamble(QByteArrayView data, bool lineStartAt0)
{
    const Delimiter d = findDelimiter(data, 0, lineStartAt0);
    if (d.match == Match::Full) {
        // A closing delimiter before any part only ends the preamble's noise.
        if (!d.closing)
            m_state = State::Headers;
        return d.end;
    }
    // Keep just enough to recognise a delimiter that straddles two reads.
    m_needMore = true;
    const qsizetype keep = m_core.size() + kMaxDashes + 260;
    return std::max<qsizetype>(0, data.size() - keep);
}

qsizetype MultipartParser::consumeHeaders(QByteArrayView data)
{
    // A delimiter right after a delimiter: an empty part with no headers.
    const Delimiter again =
        findDelimiter(data.first(std::min(data.size(), m_core.size() + 300)), 0, true);
    if (again.match == Match::Full && again.lineStart == 0) {
        if (again.closing)
            m_state = State::Preamble;
        return again.end;
    }
    // A line break (or dashes) that may still turn into that delimiter: wait,
    // or a blank line read too early would start a part that a single read
    // of the same bytes would not.
    if ((again.match == Match::Partial && again.lineStart == 0) ||
        (again.match == Match::None && couldStartDelimiter(data, true))) {
        m_needMore = true;
        return 0;
    }
    // Some servers send the picture with no headers at all.
    if (data.size() >= 2 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xD8) {
        startPart(-1);
        m_state = State::Body;
        return 0;
    }
    if (data.size() < 2 && (data.isEmpty() || uchar(data[0]) == 0xFF || data[0] == '\r')) {
        m_needMore = true;
        return 0;
    }
    qsizetype end = -1;
    if (data.startsWith("\r\n"))
        end = 2;
    else if (data.startsWith('\n'))
        end = 1;
    else
        end = headerBlockEnd(data.first(std::min(data.size(), kMaxHeaderBytes)));
    if (end < 0) {
        if (data.size() > kMaxHeaderBytes)
            m_state = State::Preamble; // not headers; look for the next delimiter
        else
            m_needMore = true;
        return 0;
    }
    qint64 declared = -1;
    for (QByteArrayView line : QByteArrayView(data.first(end)).toByteArray().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        if (trimmed(line.first(colon)).compare("content-length", Qt::CaseInsensitive) == 0)
            declared = parseLength(line.sliced(colon + 1));
    }
    startPart(declared);
    m_state = State::Body;
    return end;
}

qsizetype MultipartParser::consumeBody(QByteArrayView data, bool lineStartAt0)
{
    const Delimiter d = findDelimiter(data, 0, lineStartAt0);
    if (d.match == Match::Full) {
        emitBody(data.first(d.lineStart), true);
        m_state = d.closing ? State::Preamble : State::Headers;
        return d.end;
    }
    qsizetype hold = holdFrom(data, 0, lineStartAt0);
    if (d.match == Match::Partial)
        hold = std::min(hold, d.lineStart);
    // The client gives a part up only at a chunk that ends with the whole
    // end-of-image marker (0xFF 0xD9): a trailing 0xFF waits for the byte
    // after it, unless it is the last byte the part declares.
    if (hold == data.size() && hold > 0 && uchar(data[hold - 1]) == 0xFF &&
        !(m_declared >= 0 && m_emitted + hold == m_declared))
        --hold;
    if (m_declared >= 0) {
        // Once the declared length is complete, blank bytes wait for the
        // delimiter instead of spoiling the part's length.
        const qint64 room = m_declared - m_emitted;
        if (room >= 0 && hold > room && isBlank(data.sliced(room, hold - room)) &&
            data.size() - room <= kMaxBlankHold)
            hold = room;
    }
    emitBody(data.first(hold), false);
    m_needMore = true;
    return hold;
}

void MultipartParser::feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_state == State::Single) {
        if (m_partCount == 0)
            startPart(m_declared);
        emitBody(bytes, false);
        return;
    }
    QByteArray joined;
    QByteArrayView data = bytes;
    if (!m_pending.isEmpty()) {
        joined = m_pending;
        joined.append(bytes.data(), bytes.size());
        data = joined;
    }
    bool lineStart = m_pendingAtLineStart;
    m_pending.clear();
    qsizetype pos = 0;
    while (pos < data.size()) {
        const State before = m_state;
        const QByteArrayView rest = data.sliced(pos);
        qsizetype used = 0;
        m_needMore = false;
        switch (m_state) {
        case State::Preamble:
            used = consumePreamble(rest, lineStart);
            break;
        case State::Headers:
            used = consumeHeaders(rest);
            break;
        case State::Body:
            used = consumeBody(rest, lineStart && m_emitted == 0);
            break;
        case State::Single:
            break;
        }
        pos += used;
        if (used > 0)
            lineStart = data[pos - 1] == '\n';
        if (m_state == State::Headers || (m_state == State::Body && before != State::Body))
            lineStart = true;
        if (m_needMore) {
            m_pending = data.sliced(pos).toByteArray();
            break;
        }
    }
    m_pendingAtLineStart = lineStart;
}

void MultipartParser::finish()
{
    if (m_state == State::Body && !m_pending.isEmpty()) {
        const QByteArrayView data = m_pending;
        const Delimiter d = findDelimiter(data, 0, m_pendingAtLineStart && m_emitted == 0);
        emitBody(d.match == Match::None ? data : data.first(d.lineStart), true);
    }
    m_pending.clear();
}
