#include "platform/PreviewView.h"

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
    // Flips and turns apply once, to the picture and its overlays alike.
    painter.setTransform(overlays::viewTransform(target, m_aids));
    if (target.size() == m_image.size()) {
        painter.drawImage(target.topLeft(), m_image);
    } else {
        // Area-averaged down-scaling once per new frame, not per repaint.
        if (m_scaled.size() != target.size())
            m_scaled =
                m_image.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(target.topLeft(), m_scaled);
    }
    overlays::paint(painter, target, m_image.size(), m_aids, m_clipMask);
    ++m_paintCount;
    Q_EMIT painted();
}

} // namespace platform
