#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

namespace platform
{

// Plots a histogram: the luminance filled, the red, green and blue counts as
// lines over it, the values 0 to 255 from left to right. Main thread only.
class HistogramView : public QWidget
{
    Q_OBJECT
public:
    using Counts = std::array<std::uint32_t, 256>;
    enum Curve { Luminance = 0, Red, Green, Blue, CurveCount }; // order of setCounts
    enum class Scale { Linear = 1, Logarithmic };

    explicit HistogramView(QWidget *parent = nullptr);

    void setCounts(const std::array<Counts, CurveCount> &counts);
    void setScale(Scale scale);
    Scale scale() const { return m_scale; }
    // Night: every curve in a shade of dim red on black.
    void setNight(bool night);

    QSize sizeHint() const override { return {256, 72}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::array<Counts, CurveCount> m_counts{};
    Scale m_scale = Scale::Linear;
    bool m_night = false;
};

} // namespace platform
