#include "platform/PreviewView.h"

#include "platform/BilinearShrink.h"
#include "platform/FocusOverlay.h"
#include "platform/PictureAgeOverlay.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

namespace platform
{

namespace
{
// A picture of frameSize in area: fitted with its proportions kept when it is
// larger, never enlarged.
QSize shownSize(QSize frameSize, QSize area)
{
    if (frameSize.width() > area.width() || frameSize.height() > area.height())
        frameSize.scale(area, Qt::KeepAspectRatio);
    return frameSize;
}

QSize deviceSize(QSize size, qreal ratio)
{
    return {qCeil(size.width() * ratio), qCeil(size.height() * ratio)};
}
} // namespace

PreviewView::PreviewView(QWidget *parent) : QWidget(parent)
{
    // The view paints every pixel itself, the picture and around it the
    // window's colour: a new frame then repaints the picture's rectangle and
    // nothing else, not the window's background under it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

void PreviewView::setImage(const QImage &image, QSize frameSize)
{
    const QRect before = pictureRect();
    m_image = image;
    m_frameSize = frameSize.isEmpty() ? image.size() : frameSize;
    m_scaledStale = true;
    // Painted now, not at the next update request: that request waits behind
    // the network's events, and while frames come as fast as the main thread
    // decodes them it would show only one frame in dozens. The next frame of
    // a stream covers the same rectangle, and only that changes.
    const QRect after = pictureRect();
    if (after == before && !image.hasAlphaChannel())
        repaint(after);
    else
        repaint();
}

void PreviewView::setPictureAgeText(const QString &text)
{
    if (text == m_pictureAgeText)
        return;
    m_pictureAgeText = text;
    update();
}

void PreviewView::setAids(const PreviewAids &aids)
{
    if (aids == m_aids)
        return;
    m_aids = aids;
    update();
}

void PreviewView::setClipMask(const QImage &mask)
{
    m_clipMask = mask;
    if (m_aids.clipping)
        update();
}

QRect PreviewView::pictureRect() const
{
    if (m_image.isNull())
        return {};
    const QSize area = this->size();
    const QSize size = shownSize(m_frameSize, area);
    const QPoint topLeft((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
    return {topLeft, size};
}

QSize PreviewView::decodeSizeFor(QSize frameSize) const
{
    return deviceSize(shownSize(frameSize, size()), devicePixelRatioF());
}

void PreviewView::resizeEvent(QResizeEvent *event)
{
    m_scaledStale = true;
    QWidget::resizeEvent(event);
}

void PreviewView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect target = pictureRect();
    // Around the picture, and under one with transparent parts (the
    // "Disconnect" picture), the colour of the window behind the view.
    QRegion around = event->region();
    if (!m_image.hasAlphaChannel())
        around -= target;
    for (const QRect &r : around)
        painter.fillRect(r, palette().window());
    if (m_image.isNull() || target.isEmpty())
        return;
    // Flips and turns apply once, to the picture and its overlays alike.
    painter.setTransform(overlays::viewTransform(target, m_aids));
    const QSize pixels = deviceSize(target.size(), devicePixelRatioF());
    const bool shrunk = m_image.width() >= pixels.width() && m_image.height() >= pixels.height();
    if (m_image.size() == pixels) {
        painter.drawImage(QRectF(target), m_image);
    } else if (m_image.width() > 2 * pixels.width() || m_image.height() > 2 * pixels.height()) {
        // Shrunk more than twice (a frame a capture needs whole, or a small
        // view): area-averaged, once per new frame, not per repaint.
        if (m_scaledStale || m_scaled.size() != pixels)
            m_scaled = m_image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_scaledStale = false;
        painter.drawImage(QRectF(target), m_scaled);
    } else if (shrunk && m_image.format() == QImage::Format_RGB32) {
        // Shrunk at most twice, as a frame decoded at the scale the view
        // asked for is: bilinear, as a filtered paint would do it, but on
        // this thread into a kept picture, without waking Qt's painting
        // threads for each frame (bench_preview_scale).
        if (m_scaledStale || m_scaled.size() != pixels)
            m_scaled = bilinearShrink(m_image, pixels, std::move(m_scaled));
        m_scaledStale = false;
        painter.drawImage(QRectF(target), m_scaled);
    } else {
        // Enlarged until the next frame after the view grew, or a picture
        // with transparent parts: filtered inside the paint.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(target), m_image);
    }
    overlays::paint(painter, target, m_image.size(), m_aids, m_clipMask);
    if (m_focusOverlay)
        m_focusOverlay->paint(painter, target, m_image);
    if (!m_pictureAgeText.isEmpty()) {
        painter.resetTransform(); // a text reads the right way round whatever the flips
        paintPictureAge(painter, target, m_pictureAgeText);
    }
    ++m_paintCount;
    Q_EMIT painted();
}

void PreviewView::setFocusOverlay(FocusOverlay *overlay)
{
    if (m_focusOverlay)
        disconnect(m_focusOverlay, nullptr, this, nullptr);
    m_focusOverlay = overlay;
    if (overlay)
        connect(overlay, &FocusOverlay::changed, this, qOverload<>(&QWidget::update));
    update();
}

QPoint PreviewView::inView(QPoint at) const
{
    // The flips are their own inverse: a point on the screen maps back onto
    // the picture as it is before them.
    return overlays::viewTransform(pictureRect(), m_aids).map(at);
}

void PreviewView::mousePressEvent(QMouseEvent *event)
{
    if (m_focusOverlay && event->button() == Qt::LeftButton &&
        m_focusOverlay->mousePress(inView(event->position().toPoint()), pictureRect()))
        return;
    QWidget::mousePressEvent(event);
}

void PreviewView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_focusOverlay)
        m_focusOverlay->mouseMove(inView(event->position().toPoint()), pictureRect());
    QWidget::mouseMoveEvent(event);
}

void PreviewView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_focusOverlay)
        m_focusOverlay->mouseRelease();
    QWidget::mouseReleaseEvent(event);
}

} // namespace platform
