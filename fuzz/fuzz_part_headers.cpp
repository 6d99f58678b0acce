// The header block of one part of the stream: whatever lines a server puts
// there, the part still ends at the delimiter, and the length it declares is
// the one its Content-Length line gives.
//
// Input: a cut size, one byte that picks where a Content-Length line giving
// the body's true length goes in (or none), the header lines up to the first
// NUL, then the body. The part is sent as "--<boundary>", the header lines,
// a blank line, the body and the closing delimiter, fed in cuts of the size
// given. Checked on every input the splitter gets: exactly one part, of
// exactly the body's bytes; and, when the fuzzed lines name no Content-Length
// themselves, the declared length is the inserted one's, or -1 without it.

#include "stream/MultipartParser.h"

#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_part_headers: %s\n", what);
    std::abort();
}

const QByteArray kBoundary = QByteArrayLiteral("fzPartBoundary7Q");

struct Part {
    qint64 declared = -1;
    QByteArray bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = uchar(input[0]) == 0 ? input.size() : uchar(input[0]) % 31 + 1;
    const int lengthAt = uchar(input[1]);
    const QByteArrayView rest = input.sliced(2);
    const qsizetype nul = rest.indexOf('\0');
    if (nul < 0)
        return 0;
    const QByteArray headers = rest.first(nul).toByteArray();
    const QByteArrayView body = rest.sliced(nul + 1);

    // Lines that would end the block early, start another part, or make the
    // part a headerless picture are other inputs' business.
    if (headers.contains("\n\n") || headers.contains("\n\r\n") || headers.startsWith('\n') ||
        headers.startsWith("\r\n") || headers.endsWith('\n') || headers.endsWith("\n\r") ||
        headers == "\r" || headers.startsWith('-') || headers.contains("\n-") ||
        headers.startsWith("\xff\xd8") || headers.contains(kBoundary) ||
        body.indexOf(kBoundary) >= 0 || headers.size() > MultipartParser::kMaxHeaderBytes / 2)
        return 0;

    QList<QByteArray> lines = headers.isEmpty() ? QList<QByteArray>() : headers.split('\n');
    const bool namesLength = headers.toLower().contains("content-length");
    const bool insert = lengthAt < 128;
    if (insert)
        lines.insert(std::min<qsizetype>(lengthAt, lines.size()),
                     "Content-Length: " + QByteArray::number(body.size()) + '\r');

    QByteArray stream = "--" + kBoundary + "\r\n";
    for (const QByteArray &line : lines)
        stream += line + '\n';
    stream += "\r\n";
    stream += body;
    stream += "\r\n--" + kBoundary + "--\r\n";

    std::vector<Part> parts;
    MultipartParser parser(kBoundary, {[&](qint64 declared) {
                                           parts.push_back({declared, {}});
                                       },
                                       [&](QByteArrayView bytes) {
                                           if (parts.empty())
                                               fail("body bytes before any part");
                                           parts.back().bytes.append(bytes);
                                       }});
    for (qsizetype at = 0; at < stream.size(); at += cut)
        parser.feed(QByteArrayView(stream).sliced(at, std::min(cut, stream.size() - at)));
    parser.finish();

    if (parts.size() != 1)
        fail("not exactly one part");
    const Part &part = parts.front();
    if (part.declared < -1)
        fail("a declared length below -1");
    if (!namesLength && part.declared != (insert ? body.size() : -1))
        fail("the declared length is not the Content-Length line's");
    // Blank bytes past a declared length are dropped as padding; otherwise
    // the part is the body, whatever its headers said.
    const bool padded = part.declared >= 0 && part.declared < body.size();
    if (!padded && part.bytes != body)
        fail("the part is not the body");
    if (padded && part.bytes != body &&
        (part.bytes != body.first(part.declared) ||
         !std::all_of(body.begin() + part.declared, body.end(),
                      [](char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; })))
        fail("a part cut short by its declared length where more than padding followed");
    return 0;
}
