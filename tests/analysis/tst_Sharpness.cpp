// The sharpness score on synthetic sky pictures, and the worker that measures
// the newest frame off the main thread.

#include "analysis/AnalysisWorker.h"
#include "analysis/Sharpness.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

using analysis::measureSharpness;

namespace
{
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

class tst_Sharpness : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void blurSeriesRanksInOrder();
    void brightnessAloneDoesNotMoveTheScore_data();
    void brightnessAloneDoesNotMoveTheScore();
    void onlyTheRegionCounts_data();
    void onlyTheRegionCounts();
    void workerTakesTheNewestFrame();
};

void tst_Sharpness::blurSeriesRanksInOrder()
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

void tst_Sharpness::brightnessAloneDoesNotMoveTheScore_data()
{
    QTest::addColumn<int>("blur");
    QTest::addColumn<double>("factor");
    for (int blur : {1, 4})
        for (double factor : {0.5, 2.0})
            QTest::addRow("blur 1/%d, x%.1f", blur, factor) << blur << factor;
}

void tst_Sharpness::brightnessAloneDoesNotMoveTheScore()
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

void tst_Sharpness::onlyTheRegionCounts_data()
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

void tst_Sharpness::onlyTheRegionCounts()
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

void tst_Sharpness::workerTakesTheNewestFrame()
{
    // Frames posted faster than they are measured: some are replaced, the
    // readings come on this thread in order, and the last frame is measured.
    QList<analysis::AnalysisWorker::Reading> readings;
    bool onMainThread = true;
    const QImage big = sky({1920, 1080});
    QImage flat(1920, 1080, QImage::Format_RGB32);
    flat.fill(Qt::black);
    QObject receiver;
    {
        analysis::AnalysisWorker worker(&receiver, [&](const analysis::AnalysisWorker::Reading &r) {
            onMainThread = onMainThread && QThread::currentThread() == receiver.thread();
            readings.append(r);
        });
        constexpr quint64 kFrames = 40;
        for (quint64 n = 1; n <= kFrames; ++n)
            worker.post(n == kFrames ? big : flat, big.rect(), n);
        QTRY_VERIFY(!readings.isEmpty() && readings.last().frameNumber == kFrames);
        QVERIFY(worker.replacedCount() > 0);
        QCOMPARE(worker.replacedCount() + quint64(readings.size()), kFrames);
        // Measured and its reading queued, but the worker goes away before
        // this thread takes the reading: it is never delivered.
        worker.post(big, big.rect(), kFrames + 1);
        QThread::msleep(300);
    }
    QTest::qWait(50);
    QVERIFY(onMainThread);
    for (qsizetype i = 1; i < readings.size(); ++i)
        QVERIFY(readings[i].frameNumber > readings[i - 1].frameNumber);
    QVERIFY(readings.last().sharpness.score > 0);
    QCOMPARE(readings.last().frameNumber, quint64(40));
}

QTEST_MAIN(tst_Sharpness)
#include "tst_Sharpness.moc"
