#include "platform/PreviewView.h"

#include "platform/FocusOverlay.h"

#include <QMouseEvent>
#include <QPainter>

namespace platform
{

PreviewView::PreviewView(QWidget *parent) : QWidget(parent)
{
    // The picture covers only part of the view; the rest shows the parent's
    // background, so the view itself stays transparent.
    setAttribute(Qt::WA_NoSystemBackground);
    setMinimumSize(160, 120);
}

void PreviewView::setImage(const QImage &image)
{
    m_image = image;
    m_scaled = QImage();
    // Painted now, not at the next update request: that request waits behind
    // the network's events, and while frames come as fast as the main thread
    // decodes them it would show only one frame in dozens.
    repaint();
}

QRect PreviewView::pictureRect() const
{
    if (m_image.isNull())
        return {};
    QSize size = m_image.size();
    const QSize area = this->size();
    if (size.width() > area.width() || size.height() > area.height())
        size.scale(area, Qt::KeepAspectRatio);
    const QPoint topLeft((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
    return {topLeft, size};
}

void PreviewView::resizeEvent(QResizeEvent *event)
{
    m_scaled = QImage();
    QWidget::resizeEvent(event);
}

void PreviewView::paintEvent(QPaintEvent *)
{
    if (m_image.isNull())
        return;
    const QRect target = pictureRect();
    if (target.isEmpty())
        return;
    QPainter painter(this);
    if (target.size() == m_image.size()) {
        painter.drawImage(target.topLeft(), m_image);
    } else {
        // Area-averaged down-scaling once per new frame, not per repaint.
        if (m_scaled.size() != target.size())
            m_scaled =
                m_image.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(target.topLeft(), m_scaled);
    }
    if (m_focusOverlay)
        m_focusOverlay->paint(painter, target, m_image);
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

void PreviewView::mousePressEvent(QMouseEvent *event)
{
    if (m_focusOverlay && event->button() == Qt::LeftButton &&
        m_focusOverlay->mousePress(event->position().toPoint(), pictureRect()))
        return;
    QWidget::mousePressEvent(event);
}

void PreviewView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_focusOverlay)
        m_focusOverlay->mouseMove(event->position().toPoint(), pictureRect());
    QWidget::mouseMoveEvent(event);
}

void PreviewView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_focusOverlay)
        m_focusOverlay->mouseRelease();
    QWidget::mouseReleaseEvent(event);
}

} // namespace platform
