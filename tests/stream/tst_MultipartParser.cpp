#include "stream/MultipartParser.h"

#include "support/StreamParts.h"

#include <QTest>

#include <algorithm>

namespace
{

using Layout = StreamParts::Layout;
using Parts = QList<StreamParts::Part>;
constexpr qint64 kNoLength = StreamParts::kNoLength;

// No picture, and pieces of "myboundary" that are no delimiter; the end is
// neither 0xFF 0xD9 nor a line break.
QByteArray lookAlikes(qsizetype length)
{
    const QByteArray pieces =
        "--myboundar!\r\n--myboundara\r\n--myboundaryX\r\nb --myboundary\r\nc\r\n--myboundary--X"
        "\r\n-myboundary\r\ng\n--h\r\n--myboundary \t Xi\r\r\nj\r\n\r\nk\xFF\xD9l\r\n--------------"
        "--------myboundary\r\nm\xFFn--myboundaryo";
    return pieces.repeated(length / pieces.size() + 1).left(length - 2) + "ZZ";
}

StreamParts threeFrames(QByteArray delimiter = "--myboundary", QByteArray lineBreak = "\r\n",
                        Layout layout = Layout::BodyThenBreak)
{
    StreamParts s(layout, std::move(delimiter), std::move(lineBreak));
    return s.part(StreamParts::frame(0)).part(StreamParts::frame(1)).part(StreamParts::frame(2));
}

} // namespace

class tst_MultipartParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framing_data();
    void framing();
};

void tst_MultipartParser::framing_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<StreamParts>("stream");
    const auto row = [](const char *name, const StreamParts &s,
                        const QByteArray &type = "multipart/x-mixed-replace;boundary=myboundary") {
        QTest::newRow(name) << type << s;
    };
    const auto frame = &StreamParts::frame;
    row("quoted, odd spelling", threeFrames().close(), R"(X/Y; BOUNDARY = "myboundary";q=1)");
    row("declared with dashes", threeFrames().close(), "x; xboundary=no;boundary=--myboundary");
    row("declared with dashes, sent with four", threeFrames("----myboundary").close(),
        R"(x; boundary="--myboundary")");
    row("no closing delimiter", threeFrames());
    row("the box's layout", threeFrames("--myboundary", "\r\n", Layout::BreakThenFrame));
    row("LF line breaks", threeFrames("--myboundary", "\n").close());
    StreamParts lengths; // Content-Length spelled and valued in every way, 300 bytes each
    for (const auto &[header, declared] : std::initializer_list<std::pair<QByteArray, qint64>>{
             {"CONTENT-LENGTH: 300", 300},
             {"content-length:  300 \t", 300},
             {"X-T: 1\r\ncOnTeNt-LeNgTh :\t300", 300},
             {"Content-Length: 800", 800},
             {"Content-Length: 200", 200},
             {"Content-Length: 999999999999999999", 999999999999999999},
             {"Content-Length: 4611686018427387904", kNoLength},
             {"Content-Length: 12abc", kNoLength},
             {"Content-Length: -1", kNoLength},
             {"Content-Type: image/jpeg", kNoLength}})
        lengths.part(lookAlikes(300), declared, header + "\r\n");
    row("Content-Length spellings and values", lengths.close());
    row("look-alikes, LF, no lengths", StreamParts(Layout::BodyThenBreak, "--myboundary", "\n")
                                           .part(lookAlikes(1000), kNoLength)
                                           .part(lookAlikes(57), kNoLength)
                                           .close());
    row("blank lines after bodies, blanks after boundaries",
        StreamParts()
            .part(frame(0))
            .raw("\r\n \t\r\n--myboundary \t\r\nContent-Length: 0\r\n\r\n")
            .body({}, 0)
            .raw("\r\n--myboundary   \r\n\r\n")
            .body(frame(1), kNoLength)
            .raw("\r\n--myboundary-- \r\n"));
    row("no headers, delimiters doubled", StreamParts()
                                              .raw("--myboundary\r\n")
                                              .body(frame(0), kNoLength)
                                              .raw("\r\n--myboundary\r\n\r\n")
                                              .part(frame(1))
                                              .raw("--myboundary\r\n")
                                              .part(frame(2)));
    row("blank lines and a preamble first",
        StreamParts()
            .raw("\r\n\r\nPreamble: myboundary and --myboundary mid-line.\r\n--myboundaryX\r\n")
            .part(frame(0))
            .close());
    // The end of the body hands on what was held back for a delimiter or 0xFF 0xD9.
    const QByteArray cut = frame(1).left(frame(1).indexOf('\xFF', 100) + 1);
    for (const QByteArray &last : {cut, lookAlikes(200) + "\r\n--my"})
        row(last == cut ? "cut off after 0xFF" : "cut off in a delimiter's start",
            StreamParts().part(frame(0)).raw("--myboundary\r\n\r\n").body(last, kNoLength));
    QByteArray junk; // header lines that never end, then ones that end past the limit
    while (junk.size() <= MultipartParser::kMaxHeaderBytes)
        junk += "X-Junk: " + QByteArray(70, 'j') + "\r";
    row("endless headers", StreamParts().raw("--myboundary\r\n" + junk + "\r\n").part(frame(1)));
    junk.replace('\r', '\n');
    row("headers past the limit",
        StreamParts()
            .raw("--myboundary\r\n" + junk + "\n" + lookAlikes(900) + "\r\n")
            .part(frame(3)));
}

void tst_MultipartParser::framing()
{
    QFETCH(QByteArray, contentType);
    QFETCH(StreamParts, stream);
    const QByteArrayView all = stream.bytes();
    const Parts &want = stream.parts();
    // Feeds the stream cut at cuts. After every feed, each part with a right
    // length that lies in the bytes fed is whole: no frame waits for the next
    // delimiter. At the end every part is as sent.
    const auto fault = [&](const QList<qsizetype> &cuts) -> QString {
        Parts got;
        QString misplaced;
        MultipartParser parser(MultipartParser::boundaryFromContentType(contentType),
                               {[&](qint64 declared) {
                                    got.append(StreamParts::Part{declared, {}});
                                },
                                [&](QByteArrayView bytes) {
                                    if (got.isEmpty() || bytes.isEmpty())
                                        return void(misplaced = "bytes outside a part, or none");
                                    if (got.last().body.endsWith('\xFF')) // 0xFF 0xD9 is looked for
                                        misplaced = "a chunk ends between 0xFF and the next byte";
                                    got.last().body.append(bytes.data(), bytes.size());
                                }});
        qsizetype fed = 0;
        for (qsizetype cut : cuts) {
            parser.feed(all.sliced(fed, cut - fed));
            if ((fed = cut) == all.size())
                parser.finish();
            if (parser.heldBytes() > MultipartParser::kMaxBlankHold + 300 || !misplaced.isEmpty())
                return QStringLiteral("%1 bytes held; %2").arg(parser.heldBytes()).arg(misplaced);
            for (qsizetype i = 0; i < want.size(); ++i) {
                const bool due = want[i].end <= fed && want[i].declared == want[i].body.size();
                if ((due || fed == all.size()) && (i >= got.size() || got[i].body != want[i].body ||
                                                   got[i].declared != want[i].declared))
                    return QStringLiteral("after %1 bytes, part %2 is wrong").arg(fed).arg(i);
            }
        }
        return got.size() == want.size() ? QString() : QStringLiteral("%1 parts").arg(got.size());
    };
    // Whole, byte by byte, and in two around every boundary and every body's end.
    QList<qsizetype> bytes, cuts;
    for (qsizetype i = 1; i <= all.size(); ++i)
        bytes << i;
    for (qsizetype at = all.indexOf("myboundary"); at >= 0; at = all.indexOf("myboundary", at + 1))
        for (qsizetype c = at - 4; c < at + 14; ++c)
            cuts << c;
    for (const StreamParts::Part &p : want)
        cuts << p.end - 1 << p.end << p.end + 1;
    QString f;
    QVERIFY2((f = fault({all.size()})).isEmpty(), qPrintable("whole: " + f));
    QVERIFY2((f = fault(bytes)).isEmpty(), qPrintable("byte by byte: " + f));
    for (qsizetype cut : cuts) {
        cut = std::clamp<qsizetype>(cut, 1, all.size() - 1);
        QVERIFY2((f = fault({cut, all.size()})).isEmpty(), qPrintable(QString::number(cut) + f));
    }
}

QTEST_GUILESS_MAIN(tst_MultipartParser)
#include "tst_MultipartParser.moc"
