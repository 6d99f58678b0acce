#pragma once

#include "platform/HistogramView.h"

#include <QKeySequence>
#include <QLabel>
#include <QLatin1StringView>
#include <QPointer>
#include <QPushButton>

#include <array>

// The viewing aids: each changes only what the window shows, never a command
// to the box nor what a capture writes. Each has a checkable button, a key
// and a stored setting.
enum class Aid {
    Histogram = 1,
    HistogramLog,
    Clipping,
    Reticle,
    FlipHorizontal,
    FlipVertical,
    Rotate180,
    NightMode,
    NightPicture,
    FullScreen,
};
inline constexpr int kAidCount = 10;

struct AidInfo {
    Aid aid;
    int key;                      // Qt::Key, pressed without Ctrl, Alt or Meta
    QLatin1StringView settingKey; // "1" on, "0" off
    bool onAtFirstStart;
};

// Indexed by int(aid) - 1.
inline constexpr std::array<AidInfo, kAidCount> kAids{{
    {Aid::Histogram, Qt::Key_H, QLatin1StringView("viewAids/histogram"), true},
    {Aid::HistogramLog, Qt::Key_G, QLatin1StringView("viewAids/histogramLog"), false},
    {Aid::Clipping, Qt::Key_C, QLatin1StringView("viewAids/clipping"), false},
    {Aid::Reticle, Qt::Key_X, QLatin1StringView("viewAids/reticle"), false},
    {Aid::FlipHorizontal, Qt::Key_M, QLatin1StringView("viewAids/flipHorizontal"), false},
    {Aid::FlipVertical, Qt::Key_V, QLatin1StringView("viewAids/flipVertical"), false},
    {Aid::Rotate180, Qt::Key_O, QLatin1StringView("viewAids/rotate180"), false},
    {Aid::NightMode, Qt::Key_N, QLatin1StringView("viewAids/nightMode"), false},
    {Aid::NightPicture, Qt::Key_P, QLatin1StringView("viewAids/nightPicture"), false},
    {Aid::FullScreen, Qt::Key_F11, QLatin1StringView("viewAids/fullScreen"), false},
}};

// The capture keys: the capture button, and the capture modes by their tags.
inline constexpr int kCaptureKey = Qt::Key_Space;
inline constexpr std::array<int, 3> kModeKeys{Qt::Key_1, Qt::Key_2, Qt::Key_3}; // tags 0, 1, 2
inline constexpr int kLeaveFullScreenKey = Qt::Key_Escape;

// The aids' controls in the window's form.
struct AidOutlets {
    std::array<QPointer<QPushButton>, kAidCount> buttons; // indexed by int(aid) - 1
    QPointer<platform::HistogramView> histogramView;
    QPointer<QLabel> clippedLab;           // the clipped share, next to the histogram
    QList<QPointer<QPushButton>> modeBtns; // every mode button, currentModeBtn among them
};
