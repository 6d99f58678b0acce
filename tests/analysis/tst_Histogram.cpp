// The histogram and the clipped share of synthetic frames whose counts are
// known, and the clipped mask that the preview stripes.

#include "analysis/Histogram.h"
#include "analysis/HistogramWorker.h"

#include <QPainter>
#include <QTest>

using analysis::Histogram;

namespace
{
// A frame of colour with patch filled in patchColour.
QImage frame(QSize size, QRgb colour, QRect patch = {}, QRgb patchColour = 0,
             QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter(&image).fillRect(patch, QColor::fromRgb(patchColour));
    return image.convertToFormat(format);
}

// "channel:value=count" entries that must hold; every other count of those
// channels is 0.
using Expected = QList<std::tuple<int, int, quint32>>;
} // namespace
Q_DECLARE_METATYPE(Expected)

class tst_Histogram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void measures_data();
    void measures();
    void workerMeasuresTheNewestFrame();
};

void tst_Histogram::measures_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<Expected>("counts");
    QTest::addColumn<quint64>("pixels");
    QTest::addColumn<quint64>("clipped");
    constexpr int L = Histogram::Luminance, R = Histogram::Red, G = Histogram::Green,
                  B = Histogram::Blue;
    const QRect all(0, 0, 100000, 100000);

    QTest::newRow("uniform grey") << frame({10, 10}, qRgb(100, 100, 100)) << all
                                  << Expected{{L, 100, 100},
                                              {R, 100, 100},
                                              {G, 100, 100},
                                              {B, 100, 100}}
                                  << quint64(100) << quint64(0);
    QTest::newRow("white: luminance 255, all clipped")
        << frame({4, 3}, qRgb(255, 255, 255)) << all
        << Expected{{L, 255, 12}, {R, 255, 12}, {G, 255, 12}, {B, 255, 12}} << quint64(12)
        << quint64(12);
    // Luminance of pure red: 77 * 255 >> 8 = 76; of the blue patch: 29 * 255 >> 8 = 28.
    QTest::newRow("one channel at 255 is clipped, 254 is not")
        << frame({4, 2}, qRgb(255, 0, 0), QRect(0, 0, 2, 1), qRgb(0, 254, 0)) << all
        << Expected{{L, 76, 6}, {L, 148, 2}, {R, 255, 6}, {R, 0, 2},
                    {G, 0, 6},  {G, 254, 2}, {B, 0, 8}}
        << quint64(8) << quint64(6);
    QTest::newRow("the rect limits the count")
        << frame({20, 10}, qRgb(10, 20, 30), QRect(5, 5, 3, 2), qRgb(0, 0, 255))
        << QRect(4, 4, 5, 4) << Expected{{L, 28, 6}, {L, 18, 14}, {R, 0, 6},   {R, 10, 14},
                                         {G, 0, 6},  {G, 20, 14}, {B, 255, 6}, {B, 30, 14}}
        << quint64(20) << quint64(6);
    QTest::newRow("a rect across the edge is cut to the frame")
        << frame({6, 6}, qRgb(0, 0, 0), QRect(4, 0, 2, 6), qRgb(255, 255, 255))
        << QRect(3, -2, 9, 4) << Expected{{L, 0, 2}, {L, 255, 4}, {R, 0, 2}, {R, 255, 4},
                                          {G, 0, 2}, {G, 255, 4}, {B, 0, 2}, {B, 255, 4}}
        << quint64(6) << quint64(4);
    QTest::newRow("a rect outside counts nothing")
        << frame({6, 6}, qRgb(255, 255, 255)) << QRect(6, 0, 3, 3) << Expected{} << quint64(0)
        << quint64(0);
    QTest::newRow("another pixel format counts the same")
        << frame({5, 4}, qRgb(40, 80, 255), QRect(0, 0, 5, 1), qRgb(255, 80, 40),
                 QImage::Format_RGB888)
        << all << Expected{{L, 87, 15}, {L, 128, 5},  {R, 40, 15}, {R, 255, 5},
                           {G, 80, 20}, {B, 255, 15}, {B, 40, 5}}
        << quint64(20) << quint64(20);
    // 1920 x 1080 with a saturated 120 x 45 patch: exactly 5400 / 2073600.
    QTest::newRow("full HD frame with a saturated patch")
        << frame({1920, 1080}, qRgb(128, 64, 32), QRect(900, 500, 120, 45), qRgb(255, 255, 255))
        << all << Expected{{L, 79, 2068200}, {L, 255, 5400}, {R, 128, 2068200}, {R, 255, 5400},
                           {G, 64, 2068200}, {G, 255, 5400}, {B, 32, 2068200},  {B, 255, 5400}}
        << quint64(2073600) << quint64(5400);
}

void tst_Histogram::measures()
{
    QFETCH(QImage, image);
    QFETCH(QRect, rect);
    QFETCH(Expected, counts);
    QFETCH(quint64, pixels);
    QFETCH(quint64, clipped);

    const Histogram h = analysis::histogramOf(image, rect);
    std::array<Histogram::Counts, Histogram::ChannelCount> want{};
    for (const auto &[channel, value, count] : counts)
        want[channel][value] = count;
    for (int c = 0; c < Histogram::ChannelCount; ++c)
        for (int v = 0; v < 256; ++v)
            if (h.counts[c][v] != want[c][v])
                QFAIL(qPrintable(QStringLiteral("channel %1 value %2: %3, not %4")
                                     .arg(c)
                                     .arg(v)
                                     .arg(h.counts[c][v])
                                     .arg(want[c][v])));
    QCOMPARE(h.pixels, pixels);
    QCOMPARE(h.clipped, clipped);
    QCOMPARE(h.clippedShare(), pixels ? double(clipped) / double(pixels) : 0.0);

    // The mask marks exactly the clipped pixels inside the rect.
    const QImage mask = analysis::clippedMask(image, rect);
    QCOMPARE(mask.size(), image.size());
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = rgb.pixel(x, y);
            const bool isClipped =
                rect.contains(x, y) && (qRed(p) == 255 || qGreen(p) == 255 || qBlue(p) == 255);
            if (mask.constScanLine(y)[x] != (isClipped ? 255 : 0))
                QFAIL(qPrintable(QStringLiteral("mask wrong at %1,%2").arg(x).arg(y)));
        }
}

void tst_Histogram::workerMeasuresTheNewestFrame()
{
    // Frames handed in faster than they are measured: the last one is always
    // measured, and each report belongs to one frame handed in.
    QObject context;
    QList<quint64> clippedCounts;
    analysis::HistogramWorker worker(&context, [&](const analysis::HistogramWorker::Result &r) {
        clippedCounts << r.histogram.clipped;
        QCOMPARE(r.clipMask.isNull(), r.histogram.clipped == 0);
    });
    for (int n = 1; n <= 20; ++n) {
        const QImage f = frame({640, 480}, qRgb(1, 2, 3), QRect(0, 0, n, 1), qRgb(255, 0, 0));
        worker.submit(f, f.rect(), analysis::HistogramWorker::Mask::Clipped);
    }
    const QImage none = frame({640, 480}, qRgb(1, 2, 3));
    worker.submit(none, none.rect(), analysis::HistogramWorker::Mask::None);
    QTRY_VERIFY(!clippedCounts.isEmpty() && clippedCounts.last() == 0);
    QVERIFY(clippedCounts.size() <= 21);
    for (qsizetype i = 0; i + 1 < clippedCounts.size(); ++i)
        QVERIFY(clippedCounts[i] >= 1 && clippedCounts[i] <= 20);
}

QTEST_GUILESS_MAIN(tst_Histogram)
#include "tst_Histogram.moc"
