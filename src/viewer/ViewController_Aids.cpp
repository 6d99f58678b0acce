#include "viewer/UserTexts.h"
#include "viewer/ViewController.h"

#include "platform/Controls.h"
#include "platform/Settings.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <cmath>

// The viewing aids (histogram, clipping, reticle, flips, night mode, full
// screen) and the capture keys. The aids change what the window shows and
// nothing else: commands to the box and captured files stay as they are.

namespace
{
const AidInfo &info(Aid aid)
{
    return kAids[int(aid) - 1];
}

QString clippedText(double share)
{
    return usertexts::clippedShare().arg(share * 100.0, 0, 'f', 2);
}

void setPanelBackground(QWidget *panel, bool night)
{
    if (!panel)
        return;
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, night ? QColor(Qt::black) : QColor(0x2b, 0x2d, 0x31));
    panel->setPalette(palette);
}
} // namespace

void ViewController::loadAids()
{
    for (const AidInfo &a : kAids) {
        bool on = a.onAtFirstStart;
        if (m_services.settings)
            if (const auto stored = m_services.settings->stringForKey(a.settingKey))
                on = *stored == QLatin1String("1");
        m_aidOn[int(a.aid) - 1] = on;
    }
    for (const AidInfo &a : kAids)
        applyAid(a.aid);
}

void ViewController::setAid(Aid aid, bool on)
{
    m_aidOn[int(aid) - 1] = on;
    if (m_services.settings)
        m_services.settings->setString(info(aid).settingKey,
                                       on ? QStringLiteral("1") : QStringLiteral("0"));
    applyAid(aid);
}

void ViewController::applyAid(Aid aid)
{
    const bool on = isAidOn(aid);
    if (QPushButton *button = m_outlets.aids.buttons[int(aid) - 1])
        button->setChecked(on);

    platform::PreviewAids view;
    view.flipHorizontal = isAidOn(Aid::FlipHorizontal);
    view.flipVertical = isAidOn(Aid::FlipVertical);
    view.rotate180 = isAidOn(Aid::Rotate180);
    view.reticle = isAidOn(Aid::Reticle);
    view.clipping = isAidOn(Aid::Clipping);
    view.nightPicture = isAidOn(Aid::NightPicture);
    view.nightMode = isAidOn(Aid::NightMode);
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setAids(view);

    platform::HistogramView *histogram = m_outlets.aids.histogramView;
    // A measure switched on starts with the frame on show, not the next one.
    if (on && (aid == Aid::Histogram || aid == Aid::Clipping) && m_outlets.previewImgeView &&
        !m_outlets.previewImgeView->image().isNull())
        measureFrame(m_outlets.previewImgeView->image(), true);
    switch (aid) {
    case Aid::Histogram:
        if (histogram)
            histogram->setVisible(on);
        if (m_outlets.aids.clippedLab)
            m_outlets.aids.clippedLab->setVisible(on);
        break;
    case Aid::HistogramLog:
        if (histogram)
            histogram->setScale(on ? platform::HistogramView::Scale::Logarithmic
                                   : platform::HistogramView::Scale::Linear);
        break;
    case Aid::Clipping:
        // Stripes of an earlier frame must not come back with the next switch.
        if (!on && m_outlets.previewImgeView)
            m_outlets.previewImgeView->setClipMask({});
        break;
    case Aid::NightMode:
        m_nightTheme.setEnabled(on, m_outlets.menuView);
        setPanelBackground(m_outlets.menuView, on);
        if (histogram)
            histogram->setNight(on);
        break;
    case Aid::FullScreen:
        if (QWidget *window = m_outlets.view ? m_outlets.view->window() : nullptr) {
            // The picture takes the whole screen; the panel comes back with the window.
            const Qt::WindowStates state = window->windowState();
            window->setWindowState(on ? state | Qt::WindowFullScreen
                                      : state & ~Qt::WindowFullScreen);
            if (m_outlets.menuView)
                m_outlets.menuView->setVisible(!on);
        }
        break;
    case Aid::Reticle:
    case Aid::FlipHorizontal:
    case Aid::FlipVertical:
    case Aid::Rotate180:
    case Aid::NightPicture:
        break; // the preview's aids, set above
    }
}

void ViewController::measureFrame(const QImage &image, bool atOnce)
{
    if (!isAidOn(Aid::Histogram) && !isAidOn(Aid::Clipping))
        return;
    if (!atOnce && m_sinceMeasure.isValid() && !m_sinceMeasure.hasExpired(kMeasureInterval.count()))
        return;
    m_sinceMeasure.start();
    if (!m_histogramWorker)
        m_histogramWorker = std::make_unique<analysis::MeasureWorker>(this, "orbilens-histo");
    // The region of interest while focus assist shows it, else the frame.
    const QRect area =
        m_focusOverlay.isRegionVisible()
            ? platform::FocusOverlay::frameRegion(m_focusOverlay.region(), image.size())
            : image.rect();
    m_histogramWorker->post([this, image, area, withMask = isAidOn(Aid::Clipping)] {
        // A quarter of a million pixels draw the same plot as all of them.
        const int step = int(std::ceil(std::sqrt(area.width() * double(area.height()) / 250000)));
        QImage mask;
        const analysis::Histogram histogram =
            analysis::histogramOf(image, area, step, withMask ? &mask : nullptr);
        return [this, histogram, mask] { showMeasures(histogram, mask); };
    });
}

void ViewController::showMeasures(const analysis::Histogram &histogram, const QImage &clipMask)
{
    if (isAidOn(Aid::Histogram)) {
        if (m_outlets.aids.histogramView)
            m_outlets.aids.histogramView->setCounts(histogram.counts);
        if (m_outlets.aids.clippedLab)
            m_outlets.aids.clippedLab->setText(clippedText(histogram.clippedShare()));
    }
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setClipMask(isAidOn(Aid::Clipping) ? clipMask : QImage());
}

bool ViewController::keysAreFree(const QKeyEvent &event) const
{
    // A dialog or a menu has the keys, and so has a field that takes text.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    QWidget *window = m_outlets.view ? m_outlets.view->window() : nullptr;
    if (!window || (QApplication::activeWindow() && QApplication::activeWindow() != window))
        return false;
    QWidget *focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit *>(focus) || qobject_cast<QTextEdit *>(focus) ||
        qobject_cast<QPlainTextEdit *>(focus) || qobject_cast<QAbstractSpinBox *>(focus) ||
        qobject_cast<QComboBox *>(focus))
        return false;
    // A button reached with Tab presses itself with Space.
    if (event.key() == kCaptureKey && qobject_cast<QAbstractButton *>(focus))
        return false;
    return !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

bool ViewController::viewKeyDown(const QKeyEvent &event)
{
    if (event.isAutoRepeat() || !keysAreFree(event))
        return false;
    const int key = event.key();
    if (key == kCaptureKey) {
        // As a click: a disabled button takes no key either.
        if (m_outlets.photoBtn)
            m_outlets.photoBtn->click();
        return true;
    }
    for (qsizetype tag = 0; tag < qsizetype(kModeKeys.size()); ++tag) {
        if (key != kModeKeys[tag])
            continue;
        for (QPushButton *button : m_outlets.aids.modeBtns)
            if (button && button != m_outlets.currentModeBtn &&
                platform::controls::tag(button) == tag)
                button->click();
        return true;
    }
    if (key == kLeaveFullScreenKey) {
        if (!isAidOn(Aid::FullScreen))
            return false;
        setAid(Aid::FullScreen, false);
        return true;
    }
    for (const AidInfo &a : kAids) {
        if (a.key == key) {
            setAid(a.aid, !isAidOn(a.aid));
            return true;
        }
    }
    return false;
}
