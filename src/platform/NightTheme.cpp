#include "platform/NightTheme.h"

#include <QApplication>
#include <QGraphicsEffect>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace platform
{

namespace
{
const QColor kText(0xa8, 0x28, 0x1c);
const QColor kDimText(0x70, 0x1a, 0x12);
const QColor kBlack(0, 0, 0);
const QColor kFace(0x16, 0x03, 0x02);

QPalette nightPalette()
{
    const QColor highlight(0x4a, 0x0c, 0x08);
    const QColor mid(0x30, 0x08, 0x05);
    QPalette p;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor text = group == QPalette::Disabled ? kDimText : kText;
        const std::pair<QPalette::ColorRole, QColor> roles[] = {
            {QPalette::Window, kBlack},
            {QPalette::WindowText, text},
            {QPalette::Base, kBlack},
            {QPalette::AlternateBase, kFace},
            {QPalette::Text, text},
            {QPalette::Button, kFace},
            {QPalette::ButtonText, text},
            {QPalette::BrightText, text},
            {QPalette::Highlight, highlight},
            {QPalette::HighlightedText, text},
            {QPalette::ToolTipBase, kBlack},
            {QPalette::ToolTipText, text},
            {QPalette::PlaceholderText, kDimText},
            {QPalette::Light, kFace},
            {QPalette::Midlight, kFace},
            {QPalette::Mid, mid},
            {QPalette::Dark, kBlack},
            {QPalette::Shadow, kBlack},
            {QPalette::Link, text}};
        for (const auto &[role, colour] : roles)
            p.setColor(group, role, colour);
    }
    return p;
}

// Everything the panel draws, pictures included, as dim red: each pixel's
// brightest channel, at three quarters, in red alone.
class NightTint final : public QGraphicsEffect
{
public:
    using QGraphicsEffect::QGraphicsEffect;

protected:
    void draw(QPainter *painter) override
    {
        QPoint offset;
        QImage image = sourcePixmap(Qt::DeviceCoordinates, &offset)
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = line[x];
                const int level = std::max({qRed(p), qGreen(p), qBlue(p)}) * 3 / 4;
                line[x] = qRgba(level, 0, 0, qAlpha(p));
            }
        }
        painter->save();
        painter->setWorldTransform(QTransform());
        painter->drawImage(offset, image);
        painter->restore();
    }
};

// After the day's rules, so that these win over every colour they set.
const char *const kNightRules = R"(
    * { color: #a8281c; }
    QWidget#menuView, QDialog, QMessageBox { background: #000000; }
    QPushButton { border: 1px solid #3a0c08; background: #160302; }
    QPushButton:hover { background: #220605; }
    QPushButton:checked { background: #3d0a06; border-color: #a8281c; }
    QPushButton:flat { border: none; background: transparent; color: #8a2016; }
    QPushButton#currentModeBtn { color: #b8301f; }
    QLabel#fpsLab, QLabel#titleLabel { color: #a8281c; }
    QLabel#sectionCapture, QLabel#sectionCamera, QLabel#sectionSave, QLabel#sectionView,
    QLabel#clippedLab { color: #701a12; }
    QLabel#timeLab { color: #c03020; background: rgba(60, 8, 4, 220); }
    QLabel#tipsLab { color: #b02a1c; background: rgba(12, 2, 1, 230); }
    QSlider::groove:horizontal { background: #3a0c08; }
    QSlider::handle:horizontal { background: #7a1a10; }
    QSlider::sub-page:horizontal { background: #a8281c; }
    QComboBox { border: 1px solid #3a0c08; background: #160302; }
    QComboBox QAbstractItemView { background: #000000; selection-background-color: #3d0a06; }
    QToolTip { background: #000000; border: 1px solid #3a0c08; }
)";
} // namespace

NightTheme::~NightTheme()
{
    if (m_enabled)
        setEnabled(false, m_panel);
}

void NightTheme::setEnabled(bool enabled, QWidget *panel)
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (enabled) {
        m_dayPalette = QApplication::palette();
        m_dayStyleSheet = app->styleSheet();
        QApplication::setPalette(nightPalette());
        app->setStyleSheet(m_dayStyleSheet + QLatin1String(kNightRules));
        m_panel = panel;
        if (m_panel) {
            // The white pictures of the buttons too, which no colour rule reaches.
            m_panel->setGraphicsEffect(new NightTint(m_panel)); // owned by the panel
        }
    } else {
        QApplication::setPalette(m_dayPalette);
        app->setStyleSheet(m_dayStyleSheet);
        if (m_panel)
            m_panel->setGraphicsEffect(nullptr); // deletes the effect
        m_panel = nullptr;
    }
}

} // namespace platform
