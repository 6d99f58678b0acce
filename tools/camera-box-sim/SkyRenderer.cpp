#include "SkyRenderer.h"

#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

SkyRenderer::SkyRenderer() : m_encoder(tjInitCompress()) {}

SkyRenderer::~SkyRenderer()
{
    if (m_jpegBuffer)
        tjFree(m_jpegBuffer);
    if (m_encoder)
        tjDestroy(static_cast<tjhandle>(m_encoder));
}

void SkyRenderer::renderBase(const BoxControls &controls, double seeing)
{
    const QSize size = controls.frameSize();
    const double gain =
        controls.exposureAuto ? 1.0 : std::clamp(controls.exposureAbsolute / 300.0, 0.05, 6.0);
    const double warm =
        controls.whiteBalanceAuto ? 0.0 : (controls.whiteBalanceTemperature - 4600) / 4000.0;
    const auto tint = [&](double r, double g, double b) {
        return QColor::fromRgbF(float(std::clamp(r * gain * (1 + warm), 0.0, 1.0)),
                                float(std::clamp(g * gain, 0.0, 1.0)),
                                float(std::clamp(b * gain * (1 - warm), 0.0, 1.0)));
    };

    m_base = QImage(size, QImage::Format_RGB32);
    QPainter p(&m_base);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, tint(0.01, 0.02, 0.06));
    sky.setColorAt(1, tint(0.04, 0.05, 0.10));
    p.fillRect(m_base.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Stars add their light to the sky.
    p.setCompositionMode(QPainter::CompositionMode_Plus);

    // The same stars at every size: positions are fractions of the frame.
    QRandomGenerator rng(20261206);
    const double scale = size.width() / 1280.0;
    const double blur = (controls.defocus() / 12.0 + seeing) * scale;
    m_blur = blur;
    const int count = 260;
    for (int i = 0; i < count; ++i) {
        const QPointF at(rng.bounded(1.0) * size.width(), rng.bounded(1.0) * size.height());
        const double magnitude = std::pow(rng.bounded(1.0), 3.0);
        const double core = (0.8 + 2.5 * magnitude) * scale;
        const double radius = core + blur;
        // A defocused star spreads the same light over a larger disc.
        const double light =
            std::clamp((0.45 + magnitude) * std::pow(core / radius, 1.2), 0.12, 1.0);
        QRadialGradient g(at, radius);
        g.setColorAt(0, tint(light, light, light * 1.05));
        // The bright core widens smoothly into a disc as the blur grows, so
        // a sharpness measure falls steadily with the defocus.
        g.setColorAt(0.35 + 0.5 * blur / radius, tint(light * 0.7, light * 0.7, light * 0.75));
        g.setColorAt(1, Qt::transparent);
        p.setBrush(g);
        p.drawEllipse(at, radius, radius);
    }
    // A nebula, so that exposure and white balance show on a large area.
    QRadialGradient nebula(QPointF(size.width() * 0.68, size.height() * 0.38),
                           size.height() * 0.22);
    nebula.setColorAt(0, tint(0.35, 0.12, 0.30));
    nebula.setColorAt(1, Qt::transparent);
    p.setBrush(nebula);
    p.drawEllipse(nebula.center(), nebula.radius(), nebula.radius() * 0.7);
}

QByteArray SkyRenderer::frame(const BoxControls &controls, quint64 frameNumber, int quality,
                              double seeing)
{
    // Seeing in tenths of a pixel: a still night redraws nothing.
    const int seeingTenths = int(std::lround(std::max(0.0, seeing) * 10));
    const Key key{controls.frameSize(), controls.defocus(),
                  controls.exposureAuto ? -1 : controls.exposureAbsolute,
                  controls.whiteBalanceAuto ? -1 : controls.whiteBalanceTemperature, seeingTenths};
    if (!(key == m_key)) {
        renderBase(controls, seeingTenths / 10.0);
        m_key = key;
    }
    if (m_work.size() != m_base.size())
        m_work = QImage(m_base.size(), QImage::Format_RGB32);
    std::memcpy(m_work.bits(), m_base.constBits(), size_t(m_base.sizeInBytes()));

    const QSize size = m_work.size();
    const double scale = size.width() / 1280.0;
    QPainter p(&m_work);
    p.setRenderHint(QPainter::Antialiasing);
    // The satellite crosses the frame in ten seconds at 20 frames a second,
    // blurred by the same focus as the stars.
    const double t = double(frameNumber % 200) / 200.0;
    const QPointF satellite(t * size.width(), size.height() * (0.8 - 0.5 * t));
    const double core = 3 * scale;
    const double radius = core + m_blur;
    const double light = std::clamp(std::pow(core / radius, 1.2), 0.12, 1.0);
    QRadialGradient glow(satellite, radius);
    glow.setColorAt(0, QColor::fromRgbF(float(light), float(light * 0.94), float(light * 0.78)));
    glow.setColorAt(0.35 + 0.5 * m_blur / radius,
                    QColor::fromRgbF(float(light * 0.7), float(light * 0.66), float(light * 0.55)));
    glow.setColorAt(1, Qt::transparent);
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.setCompositionMode(QPainter::CompositionMode_Plus); // its light adds to the sky's
    p.drawEllipse(satellite, radius, radius);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QFont font = p.font();
    font.setPixelSize(std::max(12, int(18 * scale)));
    p.setFont(font);
    p.setPen(QColor(120, 200, 120));
    p.drawText(QPointF(12 * scale, size.height() - 14 * scale),
               QStringLiteral("camera-box-sim  %1x%2  frame %3")
                   .arg(size.width())
                   .arg(size.height())
                   .arg(frameNumber));
    p.end();

    // One worst-case buffer per frame size, so libjpeg-turbo never reallocates.
    const unsigned long worstCase = tjBufSize(size.width(), size.height(), TJSAMP_420);
    if (m_jpegCapacity < worstCase) {
        if (m_jpegBuffer)
            tjFree(m_jpegBuffer);
        m_jpegBuffer = tjAlloc(int(worstCase));
        m_jpegCapacity = m_jpegBuffer ? worstCase : 0;
    }
    unsigned long jpegSize = m_jpegCapacity;
    const int format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;
    if (!m_jpegBuffer ||
        tjCompress2(static_cast<tjhandle>(m_encoder), m_work.constBits(), size.width(),
                    int(m_work.bytesPerLine()), size.height(), format, &m_jpegBuffer, &jpegSize,
                    TJSAMP_420, quality, TJFLAG_FASTDCT | TJFLAG_NOREALLOC) != 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(m_jpegBuffer), qsizetype(jpegSize));
}
