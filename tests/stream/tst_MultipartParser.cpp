#include "stream/MultipartFixtures.h"
#include "stream/MultipartParser.h"

#include <QRandomGenerator>
#include <QTest>

using fixtures::ExpectedPart;
using fixtures::Framing;

namespace
{

// Collects what the parser reports, and notices reports out of order.
struct Recorder {
    struct Part {
        qint64 declared = -1;
        QByteArray bytes;
    };
    QList<Part> parts;
    QStringList faults;
    bool keepsMarkersWhole = true; // no chunk may end between 0xFF and the next byte

    MultipartParser::Handlers handlers()
    {
        return {[this](qint64 declared) {
                    parts.append(Part{declared, {}});
                },
                [this](QByteArrayView bytes) {
                    if (parts.isEmpty())
                        faults << QStringLiteral("body bytes before any part started");
                    else if (bytes.isEmpty())
                        faults << QStringLiteral("an empty chunk");
                    else if (keepsMarkersWhole && parts.last().bytes.endsWith('\xFF'))
                        faults << QStringLiteral("a chunk ended between 0xFF and the next byte");
                    else
                        parts.last().bytes.append(bytes.data(), bytes.size());
                }};
    }
};

QString mismatch(const Recorder &r, const QList<ExpectedPart> &expected)
{
    if (!r.faults.isEmpty())
        return r.faults.join(QStringLiteral("; "));
    if (r.parts.size() != expected.size())
        return QStringLiteral("%1 parts instead of %2").arg(r.parts.size()).arg(expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (r.parts[i].declared != expected[i].declared)
            return QStringLiteral("part %1 declared %2 instead of %3")
                .arg(i)
                .arg(r.parts[i].declared)
                .arg(expected[i].declared);
        if (r.parts[i].bytes != expected[i].bytes)
            return QStringLiteral("part %1 has %2 bytes, not the expected %3 (or they differ)")
                .arg(i)
                .arg(r.parts[i].bytes.size())
                .arg(expected[i].bytes.size());
    }
    return {};
}

// Every part with a right declared length whose body lies within the first
// `fed` bytes must have been handed on whole by now.
QString lateParts(const Recorder &r, const QList<ExpectedPart> &expected, qsizetype fed)
{
    if (!r.faults.isEmpty())
        return r.faults.join(QStringLiteral("; "));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const ExpectedPart &e = expected[i];
        if (!e.lengthRight() || e.endOffset > fed)
            continue;
        const qsizetype got = i < r.parts.size() ? r.parts[i].bytes.size() : -1;
        if (got != e.bytes.size())
            return QStringLiteral("after %1 bytes, part %2 has %3 of its %4 bytes")
                .arg(fed)
                .arg(i)
                .arg(got)
                .arg(e.bytes.size());
    }
    return {};
}

MultipartParser parserFor(const Framing &f, Recorder &r)
{
    return MultipartParser(MultipartParser::boundaryFromContentType(f.contentType), r.handlers());
}

} // namespace

class tst_MultipartParser : public QObject
{
    Q_OBJECT
    void addFramings();

private Q_SLOTS:
    void boundaryFromContentType_data();
    void boundaryFromContentType();

    // Every framing must come out the same however the stream is cut.
    void framingInOneFeed_data() { addFramings(); }
    void framingInOneFeed();
    void framingSplitAtEveryByte_data() { addFramings(); }
    void framingSplitAtEveryByte();
    void framingByteByByte_data() { addFramings(); }
    void framingByteByByte();
    void framingRandomCuts_data() { addFramings(); }
    void framingRandomCuts();

    void noBoundaryMakesOnePart();
    void endlessHeadersAreSkipped();
    void overlongHeadersAreSkippedHoweverCut();
    void longPreambleIsSkipped();
    void manyEmptyPartsInOneRead();
};

void tst_MultipartParser::boundaryFromContentType_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("boundary");
    QTest::newRow("plain") << QByteArray("multipart/x-mixed-replace;boundary=abc")
                           << QByteArray("abc");
    QTest::newRow("space after ;")
        << QByteArray("multipart/x-mixed-replace; boundary=abc") << QByteArray("abc");
    QTest::newRow("quoted") << QByteArray(R"(multipart/x-mixed-replace; boundary="abc")")
                            << QByteArray("abc");
    QTest::newRow("quoted, specials")
        << QByteArray(R"(multipart/x-mixed-replace;boundary="a;b c")") << QByteArray("a;b c");
    QTest::newRow("leading dashes")
        << QByteArray("multipart/x-mixed-replace;boundary=--abc") << QByteArray("--abc");
    QTest::newRow("name in capitals, value case kept")
        << QByteArray("Multipart/X-Mixed-Replace; BOUNDARY=AbC") << QByteArray("AbC");
    QTest::newRow("blanks around =")
        << QByteArray("multipart/x-mixed-replace; boundary = abc") << QByteArray("abc");
    QTest::newRow("further parameters")
        << QByteArray("multipart/x-mixed-replace; boundary=abc; charset=utf-8")
        << QByteArray("abc");
    QTest::newRow("after another parameter")
        << QByteArray("multipart/x-mixed-replace; x-boundary=no; boundary=abc")
        << QByteArray("abc");
    QTest::newRow("no boundary") << QByteArray("image/jpeg") << QByteArray();
    QTest::newRow("only a look-alike")
        << QByteArray("multipart/x-mixed-replace; xboundary=abc") << QByteArray();
}

void tst_MultipartParser::boundaryFromContentType()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, boundary);
    QCOMPARE(MultipartParser::boundaryFromContentType(contentType), boundary);
}

void tst_MultipartParser::addFramings()
{
    QTest::addColumn<int>("index");
    const QList<Framing> all = fixtures::framings(false);
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(qPrintable(all[i].name)) << i;
}

void tst_MultipartParser::framingInOneFeed()
{
    QFETCH(int, index);
    const Framing f = fixtures::framings(false).at(index);
    Recorder r;
    MultipartParser parser = parserFor(f, r);
    parser.feed(f.stream);
    const QString late = lateParts(r, f.parts, f.stream.size());
    QVERIFY2(late.isEmpty(), qPrintable(late));
    parser.finish();
    const QString wrong = mismatch(r, f.parts);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MultipartParser::framingSplitAtEveryByte()
{
    QFETCH(int, index);
    const Framing f = fixtures::framings(false).at(index);
    const QByteArrayView all(f.stream);
    for (qsizetype cut = 0; cut <= all.size(); ++cut) {
        Recorder r;
        MultipartParser parser = parserFor(f, r);
        parser.feed(all.first(cut));
        QString fault = lateParts(r, f.parts, cut);
        if (fault.isEmpty()) {
            parser.feed(all.sliced(cut));
            fault = lateParts(r, f.parts, all.size());
        }
        if (fault.isEmpty()) {
            parser.finish();
            fault = mismatch(r, f.parts);
        }
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(fault)));
    }
}

void tst_MultipartParser::framingByteByByte()
{
    QFETCH(int, index);
    const Framing f = fixtures::framings(false).at(index);
    Recorder r;
    MultipartParser parser = parserFor(f, r);
    for (qsizetype i = 0; i < f.stream.size(); ++i) {
        parser.feed(QByteArrayView(f.stream).sliced(i, 1));
        const QString late = lateParts(r, f.parts, i + 1);
        QVERIFY2(late.isEmpty(), qPrintable(late));
    }
    parser.finish();
    const QString wrong = mismatch(r, f.parts);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_MultipartParser::framingRandomCuts()
{
    QFETCH(int, index);
    const Framing f = fixtures::framings(false).at(index);
    QRandomGenerator random(20240601u + quint32(index));
    for (int round = 0; round < 300; ++round) {
        Recorder r;
        MultipartParser parser = parserFor(f, r);
        QList<qsizetype> cuts;
        for (qsizetype at = 0; at < f.stream.size();) {
            const qsizetype n = std::min<qsizetype>(f.stream.size() - at, random.bounded(1, 40));
            parser.feed(QByteArrayView(f.stream).sliced(at, n));
            at += n;
            cuts << at;
        }
        parser.finish();
        const QString wrong = mismatch(r, f.parts);
        if (!wrong.isEmpty()) {
            QStringList where;
            for (qsizetype c : cuts)
                where << QString::number(c);
            QFAIL(qPrintable(wrong + QStringLiteral(", cuts: ") + where.join(u',')));
        }
    }
}

void tst_MultipartParser::noBoundaryMakesOnePart()
{
    // A plain picture answer (no multipart type): the whole body is one part
    // of the HTTP Content-Length.
    const QByteArray jpeg = fixtures::frameJpeg(2);
    for (qsizetype cut = 0; cut <= jpeg.size(); cut += 7) {
        Recorder r;
        r.keepsMarkersWhole = false; // one part only: nothing to give up
        MultipartParser parser({}, r.handlers(), jpeg.size());
        parser.feed(QByteArrayView(jpeg).first(cut));
        parser.feed(QByteArrayView(jpeg).sliced(cut));
        parser.finish();
        QCOMPARE(r.parts.size(), 1);
        QCOMPARE(r.parts[0].declared, jpeg.size());
        QCOMPARE(r.parts[0].bytes, jpeg);
    }
}

void tst_MultipartParser::endlessHeadersAreSkipped()
{
    // A part whose header block never ends is given up once it outgrows the
    // header limit; the next delimiter starts the next part as usual.
    const QByteArray jpeg = fixtures::frameJpeg(1);
    QByteArray junk;
    while (junk.size() <= MultipartParser::kMaxHeaderBytes + 1000)
        junk += "X-Junk: " + QByteArray(70, 'j') + "\r";
    const QByteArray stream = "--myboundary\r\n" + junk + "\r\n--myboundary\r\nContent-Length: " +
                              QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg +
                              "\r\n--myboundary--\r\n";
    for (qsizetype slice : {qsizetype(1) << 20, qsizetype(4096), qsizetype(97)}) {
        Recorder r;
        MultipartParser parser("myboundary", r.handlers());
        for (qsizetype at = 0; at < stream.size(); at += slice)
            parser.feed(QByteArrayView(stream).sliced(at, std::min(slice, stream.size() - at)));
        parser.finish();
        QCOMPARE(r.parts.size(), 1);
        QCOMPARE(r.parts[0].declared, jpeg.size());
        QCOMPARE(r.parts[0].bytes, jpeg);
    }
}

void tst_MultipartParser::overlongHeadersAreSkippedHoweverCut()
{
    // A header block that does end, but only past the header limit, is no
    // header block whether it arrives in one read or in many.
    const QByteArray jpeg = fixtures::frameJpeg(3);
    QByteArray headers;
    while (headers.size() <= MultipartParser::kMaxHeaderBytes + 4000)
        headers += "X-Pad: " + QByteArray(60, 'p') + "\r\n";
    const QByteArray stream =
        "--myboundary\r\n" + headers + "\r\n" + fixtures::trickyBody(900) +
        "\r\n--myboundary\r\nContent-Length: " + QByteArray::number(jpeg.size()) + "\r\n\r\n" +
        jpeg + "\r\n--myboundary--\r\n";
    for (qsizetype slice : {qsizetype(1) << 20, qsizetype(4096), qsizetype(97)}) {
        Recorder r;
        MultipartParser parser("myboundary", r.handlers());
        for (qsizetype at = 0; at < stream.size(); at += slice)
            parser.feed(QByteArrayView(stream).sliced(at, std::min(slice, stream.size() - at)));
        parser.finish();
        QCOMPARE(r.parts.size(), 1);
        QCOMPARE(r.parts[0].bytes, jpeg);
    }
}

void tst_MultipartParser::manyEmptyPartsInOneRead()
{
    // 100,000 parts of no bytes in one read, then a picture. Finding each
    // part's header end must not scan the rest of the read again: done that
    // way this takes minutes, done in one pass milliseconds.
    constexpr int kEmpty = 100000;
    const QByteArray empty =
        "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 0\r\n\r\n\r\n";
    const QByteArray jpeg = fixtures::frameJpeg(4);
    QByteArray stream;
    stream.reserve(empty.size() * kEmpty + jpeg.size() + 200);
    for (int i = 0; i < kEmpty; ++i)
        stream += empty;
    stream += "--myboundary\r\nContent-Length: " + QByteArray::number(jpeg.size()) + "\r\n\r\n" +
              jpeg + "\r\n--myboundary--\r\n";
    Recorder r;
    MultipartParser parser("myboundary", r.handlers());
    parser.feed(stream);
    parser.finish();
    QCOMPARE(r.parts.size(), kEmpty + 1);
    QCOMPARE(r.parts[kEmpty - 1].declared, 0);
    QVERIFY(r.parts[kEmpty - 1].bytes.isEmpty());
    QCOMPARE(r.parts.last().bytes, jpeg);
}

void tst_MultipartParser::longPreambleIsSkipped()
{
    QByteArray preamble;
    for (int i = 0; preamble.size() < 1 << 20; ++i)
        preamble += "noise " + QByteArray::number(i) + (i % 3 ? " - " : "\r\n--myboundar\r\n");
    const QByteArray jpeg = fixtures::frameJpeg(0);
    const QByteArray stream =
        preamble + "\r\n--myboundary\r\nContent-Length: " + QByteArray::number(jpeg.size()) +
        "\r\n\r\n" + jpeg + "\r\n";
    Recorder r;
    MultipartParser parser("myboundary", r.handlers());
    for (qsizetype at = 0; at < stream.size(); at += 1000)
        parser.feed(
            QByteArrayView(stream).sliced(at, std::min<qsizetype>(1000, stream.size() - at)));
    QCOMPARE(r.parts.size(), 1);
    QCOMPARE(r.parts[0].bytes, jpeg); // whole before the stream ends
}

QTEST_GUILESS_MAIN(tst_MultipartParser)
#include "tst_MultipartParser.moc"
