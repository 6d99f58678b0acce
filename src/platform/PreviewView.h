#pragma once

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
class PreviewView : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }

    // Rectangle, in widget coordinates, that the picture occupies.
    QRect pictureRect() const;

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
    QImage m_image;
    QImage m_scaled; // m_image at pictureRect().size(), made on first paint
    std::uint64_t m_paintCount = 0;
    QPointer<FocusOverlay> m_focusOverlay;
};

} // namespace platform
