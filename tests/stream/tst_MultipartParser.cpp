#include "stream/MultipartParser.h"

#include "support/StreamParts.h"

#include <QTest>

namespace
{

constexpr qint64 kNoLength = StreamParts::kNoLength;

// No picture, pieces of "myboundary" that are no delimiter, and no 0xFF 0xD9 at the end.
QByteArray lookAlikes(qsizetype length)
{
    const QByteArray pieces =
        "--myboundar!\r\n--myboundara\r\n--myboundaryX\r\nb --myboundary\r\nc\r\n--myboundary--X"
        "\r\n-myboundary\r\ng\n--h\r\n--myboundary \t Xi\r\r\nj\r\n\r\nk\xFF\xD9l\r\n--------------"
        "--------myboundary\r\nm\xFFn--myboundaryo";
    return pieces.repeated(length / pieces.size() + 1).left(length - 2) + "ZZ";
}

// Feeds the stream cut at cuts, the last its end. After every feed, a part with a
// right length in the bytes fed is whole; at the end every part is as sent.
QString fault(const QByteArray &contentType, const StreamParts &stream,
              const QList<qsizetype> &cuts)
{
    QList<StreamParts::Part> got;
    QString misplaced;
    MultipartParser parser(
        MultipartParser::boundaryFromContentType(contentType),
        {[&](qint64 declared) { got.emplaceBack(declared); },
         [&](QByteArrayView bytes) {
             if (got.isEmpty() || bytes.isEmpty())
                 return void(misplaced = "bytes outside a part, or none");
             if (got.last().body.endsWith('\xFF')) // the client looks for 0xFF 0xD9
                 misplaced = "a chunk ends between 0xFF and the next byte";
             got.last().body.append(bytes.data(), bytes.size());
         }});
    const QList<StreamParts::Part> &want = stream.parts();
    for (qsizetype fed = 0, i = 0; i < cuts.size(); fed = cuts[i++]) {
        parser.feed(QByteArrayView(stream.bytes()).sliced(fed, cuts[i] - fed));
        if (i == cuts.size() - 1)
            parser.finish();
        if (parser.heldBytes() > MultipartParser::kMaxBlankHold + 300 || !misplaced.isEmpty())
            return QStringLiteral("%1 bytes held %2").arg(parser.heldBytes()).arg(misplaced);
        for (qsizetype p = 0; p < want.size(); ++p) {
            const bool due = want[p].end <= cuts[i] && want[p].declared == want[p].body.size();
            if ((due || i == cuts.size() - 1) && (p >= got.size() || got[p].body != want[p].body ||
                                                  got[p].declared != want[p].declared))
                return QStringLiteral("after %1 bytes, part %2 is wrong").arg(cuts[i]).arg(p);
        }
    }
    return got.size() == want.size() ? QString() : QStringLiteral("%1 parts").arg(got.size());
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
    const QByteArray type = "multipart/x-mixed-replace;boundary=myboundary";
    const QByteArray f0 = StreamParts::frame(0), f1 = StreamParts::frame(1);
    QTest::newRow("quoted, odd spelling") << QByteArray(R"(X/Y; BOUNDARY = "myboundary";q=1)")
                                          << StreamParts().part(f0).part(f1).close();
    QTest::newRow("declared with dashes, sent with four")
        << QByteArray("x; xboundary=;boundary=--myboundary")
        << StreamParts("----myboundary").part(f0).part(f1).close();
    QTest::newRow("no closing delimiter, nothing after the last picture")
        << type << StreamParts().part(f0).part(f1);
    QTest::newRow("LF line breaks")
        << type << StreamParts("--myboundary", "\n").part(f0).part(f1).close();
    StreamParts lengths; // Content-Length spelled and valued in every way, 300 bytes each
    for (const auto &[header, declared] : std::initializer_list<std::pair<QByteArray, qint64>>{
             {"CONTENT-LENGTH: 300", 300},
             {"X-T: 1\r\ncOnTeNt-LeNgTh :\t300 \t", 300},
             {"Content-Length: 800", 800},
             {"Content-Length: 200", 200},
             {"Content-Length: 999999999999999999", 999999999999999999},
             {"Content-Length: 4611686018427387904", kNoLength},
             {"Content-Length: 12abc", kNoLength},
             {"Content-Length: -1", kNoLength}})
        lengths.part(lookAlikes(300), declared, header + "\r\n");
    QTest::newRow("Content-Length spellings and values") << type << lengths.close();
    StreamParts lf("--myboundary", "\n"), blanks, doubled, preamble;
    lf.part(lookAlikes(1000), kNoLength).part(lookAlikes(57), kNoLength).close();
    QTest::newRow("look-alikes, LF, no lengths") << type << lf;
    blanks.part(f0).raw("\r\n \t\r\n--myboundary \t\r\nContent-Length: 0\r\n\r\n").body({}, 0);
    blanks.raw("\r\n--myboundary   \r\n\r\n").body(f1, kNoLength).raw("\r\n--myboundary-- \r\n");
    QTest::newRow("blank lines after bodies, blanks after boundaries") << type << blanks;
    doubled.raw("--myboundary\r\n").body(f0, kNoLength).raw("\r\n--myboundary\r\n\r\n");
    doubled.part(f1).raw("\r\n--myboundary\r\n").part(f0);
    QTest::newRow("no headers, delimiters doubled") << type << doubled;
    preamble.raw("\r\n\r\nPreamble: myboundary and --myboundary.\r\n--myboundaryX\r\n");
    QTest::newRow("blank lines and a preamble first") << type << preamble.part(f0).close();
    // The end of the body hands on what was held back for a delimiter or 0xFF 0xD9.
    QTest::newRow("cut off after 0xFF")
        << type << StreamParts().part(f0).part(f1.left(f1.indexOf('\xFF', 100) + 1), kNoLength, {});
    QByteArray junk; // header lines that never end
    while (junk.size() <= MultipartParser::kMaxHeaderBytes)
        junk += "X-Junk: " + QByteArray(70, 'j') + "\r";
    QTest::newRow("endless headers")
        << type << StreamParts().raw("--myboundary\r\n" + junk + "\r\n").part(f1);
}

void tst_MultipartParser::framing()
{
    QFETCH(QByteArray, contentType);
    QFETCH(StreamParts, stream);
    // Whole, byte by byte, and in two around every boundary.
    const qsizetype size = stream.bytes().size();
    QList<QList<qsizetype>> runs = {{size}, {}};
    for (qsizetype i = 1; i <= size; ++i)
        runs[1] << i;
    for (qsizetype at = 0; (at = stream.bytes().indexOf("myboundary", at + 1)) > 0;)
        for (qsizetype cut = at - 4; cut < at + 14; ++cut)
            runs << QList<qsizetype>{std::clamp<qsizetype>(cut, 1, size - 1), size};
    for (const QList<qsizetype> &cuts : runs) {
        const QString f = fault(contentType, stream, cuts);
        QVERIFY2(f.isEmpty(), qPrintable(QStringLiteral("cuts %1..: ").arg(cuts[0]) + f));
    }
}

QTEST_GUILESS_MAIN(tst_MultipartParser)
#include "tst_MultipartParser.moc"
