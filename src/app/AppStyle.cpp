#include "app/AppStyle.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace appstyle
{

void apply(QApplication &app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(0x2b, 0x2d, 0x31), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe8, 0xeb);
    const QColor accent(0xc9, 0x47, 0x3f); // a dim red keeps night vision
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x42));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8f, 0x98));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x74, 0x7a));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x74, 0x7a));
    app.setPalette(p);
    app.setStyleSheet(QStringLiteral(R"(
        QLabel#titleLabel { font-size: 17px; font-weight: 600; color: #e6e8eb; }
        QLabel#sectionCapture, QLabel#sectionCamera, QLabel#sectionSave, QLabel#sectionView {
            color: #8a8f98; font-size: 11px; font-weight: 600; letter-spacing: 1px; margin-top: 6px; }
        QPushButton { padding: 5px 10px; border-radius: 5px; border: 1px solid #4a4e55; background: #3a3d42; }
        QPushButton:hover { background: #45484e; }
        QPushButton:checked { background: #7a2e29; border-color: #c9473f; }
        QPushButton:flat { border: none; background: transparent; color: #b8bcc4; }
        QPushButton:flat:hover { color: #ffffff; }
        QPushButton#currentModeBtn { font-size: 15px; font-weight: 600; color: #ff8a7f; }
        QPushButton#photoBtn { border: none; background: transparent; }
        QPushButton#openFileBtn { text-align: left; }
        QLabel#fpsLab { color: #8fd18f; font-family: monospace; font-size: 13px; }
        QLabel#timeLab { color: #ffffff; background: rgba(201, 71, 63, 200); border-radius: 6px;
            padding: 3px 10px; font-family: monospace; font-size: 16px; font-weight: 600; }
        QLabel#tipsLab { color: #ffffff; background: rgba(30, 31, 34, 220); border-radius: 8px;
            padding: 8px 16px; font-size: 14px; margin-bottom: 18px; }
        QSlider::groove:horizontal { height: 4px; background: #4a4e55; border-radius: 2px; }
        QSlider::handle:horizontal { width: 14px; margin: -6px 0; border-radius: 7px; background: #c8ccd2; }
        QSlider::sub-page:horizontal { background: #c9473f; border-radius: 2px; }
        QWidget#aidsBar QPushButton { padding: 3px 8px; font-size: 12px; }
        QPushButton#histogramLogBtn { padding: 2px 8px; font-size: 11px; }
        QLabel#clippedLab { color: #b8bcc4; font-family: monospace; font-size: 12px; }
        QComboBox { padding: 4px 8px; border-radius: 5px; border: 1px solid #4a4e55; background: #3a3d42; }
    )"));
}

} // namespace appstyle
