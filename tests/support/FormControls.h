#pragma once

// The window's controls that the suites and benchmarks drive, found by their
// object names in the form, so that nothing outside src/app needs the form's
// generated code. A control the form no longer has stops the run at once.

#include "platform/HistogramView.h"
#include "platform/PreviewView.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

class FormControls
{
    QWidget &m_window; // first: the controls below are looked up in it

public:
    explicit FormControls(QWidget &window) : m_window(window) {}

    platform::PreviewView *const previewImgeView = find<platform::PreviewView>("previewImgeView");
    QLabel *const fpsLab = find<QLabel>("fpsLab");
    QLabel *const timeLab = find<QLabel>("timeLab");
    QLabel *const tipsLab = find<QLabel>("tipsLab");
    QPushButton *const statusBtn = find<QPushButton>("statusBtn");
    QPushButton *const photoBtn = find<QPushButton>("photoBtn");
    QPushButton *const whiteBalanceBtn = find<QPushButton>("whiteBalanceBtn");
    QSlider *const whiteBalanceSlider = find<QSlider>("whiteBalanceSlider");
    QPushButton *const exposureBtn = find<QPushButton>("exposureBtn");
    QSlider *const exposureSlider = find<QSlider>("exposureSlider");
    QComboBox *const resolutionPopBtn = find<QComboBox>("resolutionPopBtn");
    QPushButton *const openFileBtn = find<QPushButton>("openFileBtn");
    QPushButton *const chooseFolderBtn = find<QPushButton>("chooseFolderBtn");
    QPushButton *const rightBtn = find<QPushButton>("rightBtn");
    QPushButton *const currentModeBtn = find<QPushButton>("currentModeBtn");
    QWidget *const menuView = find<QWidget>("menuView");
    // The viewing aids
    platform::HistogramView *const histogramView = find<platform::HistogramView>("histogramView");
    QLabel *const clippedLab = find<QLabel>("clippedLab");
    QPushButton *const flipHorizontalBtn = find<QPushButton>("flipHorizontalBtn");
    QPushButton *const flipVerticalBtn = find<QPushButton>("flipVerticalBtn");
    QPushButton *const rotateBtn = find<QPushButton>("rotateBtn");
    QPushButton *const reticleBtn = find<QPushButton>("reticleBtn");
    QPushButton *const clippingBtn = find<QPushButton>("clippingBtn");
    QPushButton *const nightPictureBtn = find<QPushButton>("nightPictureBtn");
    QPushButton *const nightModeBtn = find<QPushButton>("nightModeBtn");

private:
    template <typename T> T *find(const char *name) const
    {
        T *control = m_window.findChild<T *>(QLatin1String(name));
        if (!control)
            qFatal("the window has no %s", name);
        return control;
    }
};
