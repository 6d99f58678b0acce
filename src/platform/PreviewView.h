#pragma once

#include "platform/PreviewOverlays.h"

#include <QImage>
#include <QWidget>

#include <cstdint>

namespace platform
{

// Shows one picture, centred. A picture larger than the view is shrunk to fit
// with its proportions kept, using filtered down-scaling; a smaller one is
// shown at its own size, never enlarged. Setting a new picture replaces the
// old one at once; the view keeps a reference (QImage is implicitly shared),
// not a copy. Main thread only.
class PreviewView : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }

    // The viewing aids (PreviewOverlays.h); a change repaints.
    void setAids(const PreviewAids &aids);
    const PreviewAids &aids() const { return m_aids; }
    // The clipped mask of the frame shown, or of one just before it; drawn
    // only while its size is the frame's.
    void setClipMask(const QImage &mask);

    // Rectangle, in widget coordinates, that the picture occupies.
    QRect pictureRect() const;

    // How many times a picture has been painted; benchmarks and tests watch it.
    std::uint64_t paintCount() const { return m_paintCount; }

Q_SIGNALS:
    void painted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage m_image;
    QImage m_scaled; // m_image at pictureRect().size(), made on first paint
    PreviewAids m_aids;
    QImage m_clipMask;
    std::uint64_t m_paintCount = 0;
};

} // namespace platform
