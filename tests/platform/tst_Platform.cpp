// The platform boundary through its Qt and Linux implementations: alerts,
// the key monitor, the preview, the Wi-Fi name, settings, the one-shot timer
// and the camera address with its loopback guard.

#include "platform/BilinearShrink.h"
#include "platform/CameraAddress.h"
#include "platform/KeyMonitor.h"
#include "platform/MessageBoxAlerts.h"
#include "platform/Nl80211WifiName.h"
#include "platform/PreviewView.h"
#include "platform/QtSettings.h"
#include "platform/ScheduledTimer.h"
#include "platform/Volumes.h"

#include "support/TestImages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <cstdio>
#include <sys/statvfs.h>

namespace
{

QByteArray bytesOf(const auto &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

QByteArray attr(quint16 type, const QByteArray &payload)
{
    const QByteArray out = bytesOf(nlattr{quint16(NLA_HDRLEN + payload.size()), type}) + payload;
    return out + QByteArray(NLA_ALIGN(out.size()) - out.size(), '\0');
}

// An nl80211 interface message as the kernel sends it.
QByteArray interface(quint32 type, std::optional<QByteArray> ssid = std::nullopt)
{
    const QByteArray attributes = attr(NL80211_ATTR_IFINDEX, bytesOf(quint32(3))) +
                                  attr(NL80211_ATTR_IFTYPE, bytesOf(type)) +
                                  (ssid ? attr(NL80211_ATTR_SSID, *ssid) : QByteArray());
    const quint32 length = NLMSG_HDRLEN + GENL_HDRLEN + attributes.size();
    return bytesOf(nlmsghdr{length, 0x1c, NLM_F_MULTI, 1, 0}) +
           bytesOf(genlmsghdr{NL80211_CMD_NEW_INTERFACE, 0, 0}) + attributes;
}

// The base a refused URL leaves in place.
const QString kRefused = QStringLiteral("http://127.0.0.1:9");

} // namespace

using namespace platform;

class tst_Platform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // As at start-up: alerts that come before the window is on screen wait
    // for it, then show one at a time in order, each answering with the
    // response of the button that ended it.
    void alertsWaitTakeTurnsAndAnswerByButton()
    {
        QMainWindow window;
        MessageBoxAlerts alerts;
        alerts.setWindow(&window);
        const QStringList two{"OK", "Cancel"};
        const QList<std::pair<QStringList, int>> shown{{two, 1}, {{"OK"}, -1}, {two, 0}};
        QList<int> responses;
        for (const auto &[titles, clicked] : shown) // clicked: the button's index, -1 Escape
            alerts.show({"Tips", QString::number(clicked), titles}, [&](int r) { responses << r; });
        QCoreApplication::processEvents();
        QCOMPARE(alerts.current(), nullptr);
        window.show();
        for (const auto &[titles, clicked] : shown) {
            QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
            QMessageBox *box = alerts.current();
            QCOMPARE(box->informativeText(), QString::number(clicked));
            if (clicked < 0)
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton *button : box->buttons())
                if (button->text() == titles.value(clicked))
                    button->click();
        }
        QCOMPARE(responses, QList<int>({1001, 1000, 1000}));
    }

    void keyMonitorReportsEachPressOnceAndPassesItOn()
    {
        QWidget window;
        auto *edit = new QLineEdit(&window);
        window.show();
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QStringList textWhenReported;
        KeyMonitor monitor([&](const QKeyEvent &) { textWhenReported << edit->text(); });
        QTest::keyClick(window.windowHandle(), 'x');
        QTest::keyClick(window.windowHandle(), 'y');
        QCOMPARE(textWhenReported, QStringList({"", "x"})); // before the window handles it
        QCOMPARE(edit->text(), "xy");
    }

    void previewFits_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("shown"); // in a 400 x 300 view
        QTest::newRow("smaller") << QSize(200, 100) << QRect(100, 100, 200, 100);
        QTest::newRow("wider") << QSize(1600, 600) << QRect(0, 75, 400, 150);
        QTest::newRow("taller") << QSize(300, 900) << QRect(150, 0, 100, 300);
    }

    void previewFits()
    {
        QFETCH(QSize, picture);
        QFETCH(QRect, shown);
        PreviewView view;
        view.resize(400, 300);
        view.setImage(QImage(picture, QImage::Format_RGB32));
        QCOMPARE(view.pictureRect(), shown);
        // The decode covers it in device pixels (tst_PlatformScaled: at scale 2).
        const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
        QCOMPARE(view.devicePixelRatioF(), scale);
        QCOMPARE(view.decodeSizeFor(picture), shown.size() * scale);
        // Decoded at 1/8, the frame takes the place of the whole one.
        view.setImage(QImage((picture + QSize(7, 7)) / 8, QImage::Format_RGB32), picture);
        QCOMPARE(view.pictureRect(), shown);
    }

    void previewPaintsEveryFrameAtOnce()
    {
        PreviewView view;
        view.resize(400, 240);
        QPalette palette = view.palette();
        palette.setColor(QPalette::Window, qRgb(1, 2, 3)); // around the picture
        view.setPalette(palette);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // What the window shows, not a fresh rendering of it: a new frame
        // repaints only part of the view.
        const auto at = [&view](int x) {
            return view.screen()->grabWindow(view.winId()).toImage().pixel(x, 120);
        };
        // Frames back to back, each shrunk to the same 320 x 240: two shrunk
        // four times (area-averaged), two twice (bilinear).
        for (const auto &[colour, size] : {std::pair{qRgb(200, 0, 0), QSize(1280, 960)},
                                           {qRgb(0, 200, 0), QSize(1280, 960)},
                                           {qRgb(0, 0, 200), QSize(640, 480)},
                                           {qRgb(200, 200, 0), QSize(640, 480)}}) {
            QImage frame(size, QImage::Format_RGB32);
            frame.fill(colour);
            const std::uint64_t painted = view.paintCount();
            view.setImage(frame);
            QCOMPARE(view.paintCount(), painted + 1); // now, not at the next update
            QCOMPARE(at(200), colour);
            QCOMPARE(at(20), qRgb(1, 2, 3));
        }
        // A narrower frame: where the wider one was is background again, and
        // so is whatever shows through a picture's transparent parts.
        QImage narrow(640, 960, QImage::Format_RGB32);
        narrow.fill(Qt::white);
        view.setImage(narrow);
        QCOMPARE(at(80), qRgb(1, 2, 3));
        QImage clear(640, 480, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        view.setImage(clear);
        QCOMPARE(at(200), qRgb(1, 2, 3));
    }

    void previewShrinkLooksAsAFilteredPaint()
    {
        // Noise: a sample taken half a pixel off, or a weight the wrong
        // way round, shows at once. Sizes as the live view has them, and
        // odd ones for the pixels left over after the wide steps.
        QImage noise(1920, 1080, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, 0xff000000 | random.generate());
        for (const auto &[from, to] : {std::pair{QSize(1920, 1080), QSize(976, 549)},
                                       {QSize(1296, 972), QSize(976, 732)},
                                       {QSize(1280, 720), QSize(1280, 720)},
                                       {QSize(13, 9), QSize(7, 5)}}) {
            const QImage source = noise.copy(QRect(QPoint(), from));
            QImage painted(to, QImage::Format_RGB32);
            QPainter painter(&painted);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(painted.rect(), source);
            painter.end();
            QVERIFY(testimages::maxDifference(bilinearShrink(source, to), painted) <= 2);
        }
        // The preview's own shrink of a frame larger than the view.
        PreviewView view;
        view.resize(300, 200);
        const qreal ratio = view.devicePixelRatioF();
        const QImage frame = noise.copy(0, 0, qCeil(450 * ratio), qCeil(300 * ratio));
        view.setImage(frame);
        const QImage shown =
            view.grab(view.pictureRect()).toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(testimages::maxDifference(shown, bilinearShrink(frame, shown.size())) <= 2);
        // From planes: noise in luma with no colour is that grey picture
        // shrunk (each rounds its own way); one colour stays one colour. Widths that leave samples
        // past the wide steps.
        const QSize from(613, 407), to(403, 269);
        std::vector<uchar> luma(std::size_t(from.width() * from.height())), chroma[2];
        QImage grey(from, QImage::Format_RGB32);
        for (int y = 0; y < from.height(); ++y)
            for (int x = 0; x < from.width(); ++x) {
                const int v = qRed(noise.pixel(x, y));
                luma[std::size_t(y * from.width() + x)] = uchar(v);
                grey.setPixel(x, y, qRgb(v, v, v));
            }
        YcbcrPlanes planes;
        planes.picture = from;
        planes.data[0] = luma.data();
        planes.stride[0] = from.width();
        planes.size[0] = from;
        planes.factor[0] = {1, 1};
        for (int i = 1; i < 3; ++i) {
            planes.size[i] = {(from.width() + 1) / 2, (from.height() + 1) / 2};
            planes.factor[i] = {2, 2};
            planes.stride[i] = planes.size[i].width();
            chroma[i - 1].assign(std::size_t(planes.size[i].width() * planes.size[i].height()),
                                 128);
            planes.data[i] = chroma[i - 1].data();
        }
        // Shrunk six times as well: the samples then spread too wide to be
        // gathered eight at a time.
        for (const QSize size : {to, QSize(100, 66)})
            QVERIFY(testimages::maxDifference(bilinearShrinkYcbcr(planes, size),
                                              bilinearShrink(grey, size)) <= 2);
        std::fill(luma.begin(), luma.end(), 120);
        std::fill(chroma[0].begin(), chroma[0].end(), 90);
        std::fill(chroma[1].begin(), chroma[1].end(), 170);
        QImage one(to, QImage::Format_RGB32);
        one.fill(qRgb(179, 103, 53)); // JPEG's matrix, rounded
        QCOMPARE(bilinearShrinkYcbcr(planes, to), one);
    }

    void wifiNameComesFromTheFirstJoinedStation()
    {
        const auto name = [](const QList<QByteArray> &messages) {
            std::vector<Nl80211WifiName::Interface> interfaces;
            for (const QByteArray &bytes : messages)
                if (const auto parsed = Nl80211WifiName::parseInterface(bytes))
                    interfaces.push_back(*parsed);
            return Nl80211WifiName::joinedNetworkName(interfaces).value_or("none");
        };
        const QByteArray joined = interface(NL80211_IFTYPE_STATION, "Orbilens-A1");
        const QByteArray accessPoint = interface(NL80211_IFTYPE_AP, "HotSpot"); // its own network
        QCOMPARE(name({accessPoint, interface(NL80211_IFTYPE_STATION), joined,
                       interface(NL80211_IFTYPE_STATION, "HomeNet")}),
                 "Orbilens-A1");
        QCOMPARE(name({accessPoint}), "none");
        QCOMPARE(name({joined.chopped(4)}), "none");
    }

    void settingsAreOnDiskAtOnce()
    {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QCoreApplication::setOrganizationName("Orbilens Test");
        {
            QtSettings settings;
            QVERIFY(settings.setString(kSaveFolderKey, "/data/photos"));
            // Read as bytes: another QSettings here would share the unwritten cache.
            QFile file(dir.filePath("Orbilens Test/%1.conf").arg(qApp->applicationName()));
            QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains("=/data/photos"));
        }
        QCOMPARE(QtSettings().stringForKey(kSaveFolderKey), "/data/photos");
    }

    void oneShotTimerEndsWhenItFires()
    {
        int fired = 0;
        ScheduledTimer timer(std::chrono::milliseconds(1), ScheduledTimer::Repeat::Once,
                             [&] { ++fired; });
        QTRY_COMPARE(fired, 1);
        QVERIFY(!timer.isValid());
        timer.fire();
        QCOMPARE(fired, 1);
    }

    void cameraAddress_data()
    {
        QTest::addColumn<QString>("url");  // empty: none set, the default is asked for
        QTest::addColumn<QString>("base"); // kRefused: refused; empty: the process stopped
        QTest::newRow("loopback") << "http://127.0.0.1:8080" << QString("http://127.0.0.1:8080");
        QTest::newRow("root path") << "http://localhost:80/" << QString("http://localhost:80");
        QTest::newRow("path") << "http://127.0.0.1:8080/x" << kRefused;
        QTest::newRow("query") << "http://127.0.0.1:8080/?action=stream" << kRefused;
        QTest::newRow("fragment") << "http://127.0.0.1:8080#x" << kRefused;
        QTest::newRow("https") << "https://127.0.0.1:8080" << kRefused;
        QTest::newRow("another host") << "http://192.0.2.7:8080" << QString();
        QTest::newRow("the default") << QString() << QString();
    }

    // In a process of its own (see main), so that the loopback guard can stop it.
    void cameraAddress()
    {
        QFETCH(QString, url);
        QFETCH(QString, base);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--camera-url", url});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), base.isEmpty() ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), base);
    }

    // The save folder's volume: free space as statvfs counts it for a user
    // (the administrator's reserve left out), the kernel's name of its file
    // system (not checked where null), and nothing for no folder.
    void volumes_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("type");
        QTest::newRow("memory file system")
            << QStringLiteral("/dev/shm") << QStringLiteral("tmpfs");
        QTest::newRow("temporary folder") << QDir::tempPath() << QString();
        QTest::newRow("no such folder") << QStringLiteral("/nonexistent/orbilens") << QString("");
    }
    void volumes()
    {
        QFETCH(QString, folder);
        QFETCH(QString, type);
        StorageVolumes volumes;
        QVERIFY(type.isNull() || volumes.fileSystemType(folder) == type);
        struct statvfs info = {};
        const std::optional<qint64> free = volumes.bytesAvailable(folder);
        if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
            QCOMPARE(free, std::nullopt);
        else // other programs write meanwhile: within a megabyte
            QVERIFY(free &&
                    qAbs(*free - qint64(info.f_bavail) * qint64(info.f_frsize)) < (1 << 20));
    }
};

int main(int argc, char *argv[])
{
    // cameraAddress's child: a loopback base first, then the URL given.
    if (argc == 3 && qstrcmp(argv[1], "--camera-url") == 0) {
        if (*argv[2] && CameraAddress::setBaseUrl(QUrl(kRefused)))
            CameraAddress::setBaseUrl(QUrl(QString::fromUtf8(argv[2])));
        std::fputs(qPrintable(CameraAddress::baseUrl()), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    tst_Platform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Platform.moc"
