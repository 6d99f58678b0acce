#pragma once

#include "platform/PreviewOverlays.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>

namespace platform
{

class FocusOverlay;

// Shows one picture, centred. A picture larger than the view is shrunk to fit
// with its proportions kept, using filtered down-scaling; a smaller one is
// shown at its own size, never enlarged. Setting a new picture replaces the
// old one at once; the view keeps a reference (QImage is implicitly shared),
// not a copy. Main thread only.
//
// The picture may be a frame decoded at a reduced scale: it is then given
// with the frame's own size, and takes the place on screen the full frame
// would take. decodeSizeFor() tells how small a frame may be decoded.
class PreviewView : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewView(QWidget *parent = nullptr);

    // image stands for a picture of frameSize; an empty frameSize: its own.
    void setImage(const QImage &image, QSize frameSize = {});
    const QImage &image() const { return m_image; }

    // The viewing aids (PreviewOverlays.h); a change repaints.
    void setAids(const PreviewAids &aids);
    const PreviewAids &aids() const { return m_aids; }
    // The clipped mask of the frame shown, or of one just before it; drawn
    // only while its size is the frame's.
    void setClipMask(const QImage &mask);

    // Rectangle, in widget coordinates, that the picture occupies.
    QRect pictureRect() const;

    // The size, in device pixels, a picture of frameSize is shown at in the
    // view as it is now (its size and its screen's scale factor): the
    // smallest a frame may be decoded at and still look as sharp.
    QSize decodeSizeFor(QSize frameSize) const;

    // A line shown over the picture, the age of a picture that no new frame
    // has replaced; empty for none. The view repaints when it changes.
    void setPictureAgeText(const QString &text);
    const QString &pictureAgeText() const { return m_pictureAgeText; }

    // Focus assist's region and loupe, drawn over the picture and given the
    // mouse; null for none. The view does not own it.
    void setFocusOverlay(FocusOverlay *overlay);

    // How many times a picture has been painted; benchmarks and tests watch it.
    std::uint64_t paintCount() const { return m_paintCount; }

Q_SIGNALS:
    void painted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint inView(QPoint at) const; // a widget point as the unflipped picture has it
    QImage m_image;
    QSize m_frameSize;
    // m_image shrunk to the picture's size in device pixels, made on the
    // first paint of a new frame; kept, and written again for the next frame
    // of the same size when nothing else holds it.
    QImage m_scaled;
    bool m_scaledStale = true;
    PreviewAids m_aids;
    QImage m_clipMask;
    std::uint64_t m_paintCount = 0;
    QString m_pictureAgeText;
    QPointer<FocusOverlay> m_focusOverlay;
};

} // namespace platform
