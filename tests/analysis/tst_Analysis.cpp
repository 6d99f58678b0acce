// The pixel measures on synthetic frames: the histogram and clipped share of
// frames whose counts are known, the clipped mask that the preview stripes,
// the sharpness score of sky pictures, and the worker that runs a measure of
// the newest frame off the main thread.

#include "analysis/Histogram.h"
#include "analysis/MeasureWorker.h"
#include "analysis/Sharpness.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <numeric>

using analysis::Histogram;
using analysis::measureSharpness;

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
// A Moon limb with craters and a few stars on a dim sky, kept below half of
// full scale so that doubling the brightness does not clip.
QImage sky(QSize size = {320, 240})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(6, 7, 12));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(110, 108, 100));
    p.drawEllipse(QPointF(size.width() * 0.8, size.height() * 0.5), size.height() * 0.6,
                  size.height() * 0.6);
    QRandomGenerator rng(7);
    p.setBrush(QColor(70, 68, 64));
    for (int i = 0; i < 25; ++i)
        p.drawEllipse(QPointF(size.width() * (0.55 + 0.4 * rng.bounded(1.0)),
                              size.height() * rng.bounded(1.0)),
                      2 + rng.bounded(8.0), 2 + rng.bounded(8.0));
    p.setBrush(QColor(120, 120, 125));
    for (int i = 0; i < 40; ++i)
        p.drawEllipse(
            QPointF(size.width() * 0.45 * rng.bounded(1.0), size.height() * rng.bounded(1.0)), 1.2,
            1.2);
    return image;
}

// The same picture seen through a softer lens: shrunk by factor and
// enlarged back, both smoothly.
QImage blurred(const QImage &image, int factor)
{
    return image.scaled(image.size() / factor, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

QImage scaledBrightness(QImage image, double factor)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            const auto s = [factor](int v) { return std::min(255, int(v * factor + 0.5)); };
            image.setPixel(x, y, qRgb(s(qRed(c)), s(qGreen(c)), s(qBlue(c))));
        }
    return image;
}
} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_Analysis : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void histogram_data();
    void histogram();
    void blurSeriesRanksInOrder();
    void brightnessAloneDoesNotMoveTheScore_data();
    void brightnessAloneDoesNotMoveTheScore();
    void onlyTheRegionCounts_data();
    void onlyTheRegionCounts();
    void workerTakesTheNewestFrame();
};

void tst_Analysis::histogram_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<Expected>("counts");
    QTest::addColumn<quint64>("pixels");
    QTest::addColumn<quint64>("clipped");
    constexpr int L = Histogram::Luminance, R = Histogram::Red, G = Histogram::Green,
                  B = Histogram::Blue;
    const QRect all(0, 0, 100000, 100000);

    QTest::newRow("white: luminance 255, all clipped")
        << frame({4, 3}, qRgb(255, 255, 255)) << all
        << Expected{{L, 255, 12}, {R, 255, 12}, {G, 255, 12}, {B, 255, 12}} << quint64(12)
        << quint64(12);
    // Luminance of pure green: 150 * 255 >> 8 = 149; of the patch: 106 * 254 >> 8 = 105;
    // of the blue patch below: 29 * 255 >> 8 = 28.
    QTest::newRow("one channel at 255 is clipped, 254 is not")
        << frame({4, 2}, qRgb(0, 255, 0), QRect(0, 0, 2, 1), qRgb(254, 0, 254)) << all
        << Expected{{L, 149, 6}, {L, 105, 2}, {R, 0, 6}, {R, 254, 2},
                    {G, 255, 6}, {G, 0, 2},   {B, 0, 6}, {B, 254, 2}}
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

void tst_Analysis::histogram()
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
    // Every second pixel of every second row, for a plot; the clipped count
    // still takes every pixel, and the same pass makes the mask.
    QImage sampleMask;
    const Histogram sample = analysis::histogramOf(image, rect, 2, &sampleMask);
    QCOMPARE(sampleMask, mask);
    const QRect area = rect.intersected(image.rect());
    QCOMPARE(std::accumulate(sample.counts[0].begin(), sample.counts[0].end(), 0ULL),
             quint64((area.width() + 1) / 2) * quint64((area.height() + 1) / 2));
    QVERIFY(sample.clipped == clipped && sample.pixels == pixels);
}

void tst_Analysis::blurSeriesRanksInOrder()
{
    const QImage base = sky();
    double previous = 0;
    for (int factor : {12, 8, 5, 3, 2, 1}) {
        const double score = measureSharpness(blurred(base, factor), base.rect()).score;
        QVERIFY2(
            score > previous * 1.05,
            qPrintable(QStringLiteral("1/%1: %2 after %3").arg(factor).arg(score).arg(previous)));
        previous = score;
    }
}

void tst_Analysis::brightnessAloneDoesNotMoveTheScore_data()
{
    QTest::addColumn<int>("blur");
    QTest::addColumn<double>("factor");
    for (int blur : {1, 4})
        for (double factor : {0.5, 2.0})
            QTest::addRow("blur 1/%d, x%.1f", blur, factor) << blur << factor;
}

void tst_Analysis::brightnessAloneDoesNotMoveTheScore()
{
    QFETCH(int, blur);
    QFETCH(double, factor);
    const QImage image = blurred(sky(), blur);
    const analysis::Sharpness plain = measureSharpness(image, image.rect());
    const analysis::Sharpness scaled =
        measureSharpness(scaledBrightness(image, factor), image.rect());
    QVERIFY(plain.score > 0);
    QCOMPARE_LT(qAbs(scaled.score / plain.score - 1), 0.03);
    QCOMPARE_LT(qAbs(scaled.brightness / (plain.brightness * factor) - 1), 0.03);
}

void tst_Analysis::onlyTheRegionCounts_data()
{
    QTest::addColumn<QRect>("region");
    QTest::addColumn<QRect>("measured");
    QTest::addColumn<bool>("sharp");
    QTest::addRow("inside") << QRect(10, 20, 60, 40) << QRect(10, 20, 60, 40) << true;
    QTest::addRow("flat half") << QRect(100, 0, 100, 100) << QRect(100, 0, 100, 100) << false;
    QTest::addRow("clipped") << QRect(-30, 150, 100, 100) << QRect(0, 150, 70, 50) << true;
    QTest::addRow("too small") << QRect(40, 40, 2, 50) << QRect(40, 40, 2, 50) << false;
    QTest::addRow("outside") << QRect(300, 300, 50, 50) << QRect() << false;
}

void tst_Analysis::onlyTheRegionCounts()
{
    QFETCH(QRect, region);
    QFETCH(QRect, measured);
    QFETCH(bool, sharp);
    // A checkerboard on the left, a flat grey on the right.
    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(QColor(80, 80, 80));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 100; ++x)
            if ((x / 4 + y / 4) % 2)
                image.setPixel(x, y, qRgb(160, 160, 160));
    const analysis::Sharpness s = measureSharpness(image, region);
    QCOMPARE(s.region, measured);
    QCOMPARE(s.score > 0.1, sharp);
    if (measured.width() >= 3 && measured.height() >= 3)
        QVERIFY(s.brightness > 79 && s.brightness < 161);
}

void tst_Analysis::workerTakesTheNewestFrame()
{
    // Measures posted faster than they run: some are replaced, the results
    // come on this thread in order, and the last one posted runs.
    QList<quint64> results;
    bool onMainThread = true;
    const QImage big = sky({1920, 1080});
    QObject receiver;
    {
        analysis::MeasureWorker worker(&receiver, "test-measure");
        const auto post = [&](quint64 n) {
            worker.post([&, n] {
                const double score = measureSharpness(big, big.rect()).score;
                return [&, n, score] {
                    onMainThread = onMainThread && QThread::currentThread() == receiver.thread();
                    if (score > 0)
                        results << n;
                };
            });
        };
        constexpr quint64 kPosts = 40;
        for (quint64 n = 1; n <= kPosts; ++n)
            post(n);
        QTRY_VERIFY(!results.isEmpty() && results.last() == kPosts);
        QVERIFY(worker.replacedCount() > 0);
        QCOMPARE(worker.replacedCount() + quint64(results.size()), kPosts);
        // Measured and its result queued, but the worker goes away before
        // this thread takes the result: it never runs.
        post(kPosts + 1);
        QThread::msleep(300);
    }
    QTest::qWait(50);
    QVERIFY(onMainThread);
    QVERIFY(std::is_sorted(results.begin(), results.end()));
    QCOMPARE(results.last(), quint64(40));
}

QTEST_MAIN(tst_Analysis)
#include "tst_Analysis.moc"
