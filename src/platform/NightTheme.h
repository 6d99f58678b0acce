#pragma once

#include <QPalette>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace platform
{

// The application in dim red on black, for eyes adapted to the dark: the
// palette and style sheet of every widget and of every dialog the viewer
// raises, and the panel's pictures (icons) tinted red as well. Switching off
// restores the look the application had before, as does destruction.
// Main thread only; needs the QApplication.
class NightTheme
{
public:
    NightTheme() = default;
    ~NightTheme();
    NightTheme(const NightTheme &) = delete;
    NightTheme &operator=(const NightTheme &) = delete;

    // panel: a widget whose whole content, pictures included, turns red.
    void setEnabled(bool enabled, QWidget *panel);
    bool isEnabled() const { return m_enabled; }

private:
    bool m_enabled = false;
    QPalette m_dayPalette;
    QString m_dayStyleSheet;
    QPointer<QWidget> m_panel;
};

} // namespace platform
