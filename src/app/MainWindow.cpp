#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "platform/Controls.h"
#include "platform/ImageAssets.h"
#include "platform/Settings.h"
#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include <QCloseEvent>
#include <QShortcut>

#include <algorithm>

MainWindow::MainWindow(ViewerServices services, QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);
    setWindowIcon(platform::assets::icon(QStringLiteral("orbilens-viewer")));
    fillControls();

    ViewOutlets outlets;
    outlets.view = m_ui->view;
    outlets.menuView = m_ui->menuView;
    outlets.previewImgeView = m_ui->previewImgeView;
    outlets.fpsLab = m_ui->fpsLab;
    outlets.whiteBalanceBtn = m_ui->whiteBalanceBtn;
    outlets.whiteBalanceSlider = m_ui->whiteBalanceSlider;
    outlets.exposureBtn = m_ui->exposureBtn;
    outlets.exposureSlider = m_ui->exposureSlider;
    outlets.resolutionPopBtn = m_ui->resolutionPopBtn;
    outlets.currentModeBtn = m_ui->currentModeBtn;
    outlets.statusBtn = m_ui->statusBtn;
    outlets.photoBtn = m_ui->photoBtn;
    outlets.timeLab = m_ui->timeLab;
    outlets.tipsLab = m_ui->tipsLab;
    outlets.openFileBtn = m_ui->openFileBtn;
    outlets.aids.buttons = {m_ui->histogramBtn, m_ui->histogramLogBtn,   m_ui->clippingBtn,
                            m_ui->reticleBtn,   m_ui->flipHorizontalBtn, m_ui->flipVerticalBtn,
                            m_ui->rotateBtn,    m_ui->nightModeBtn,      m_ui->nightPictureBtn,
                            m_ui->fullScreenBtn};
    outlets.aids.histogramView = m_ui->histogramView;
    outlets.aids.clippedLab = m_ui->clippedLab;
    for (QPushButton *modeBtn : modeButtons())
        outlets.aids.modeBtns << modeBtn;
    // Focus assist's panel sits between the picture and the menu, hidden
    // until asked for; its button goes beside the focus buttons.
    m_focusPanel = new platform::FocusPanel(m_ui->view);
    m_focusPanel->hide();
    m_ui->viewLayout->insertWidget(1, m_focusPanel);
    m_focusAssistBtn = new QPushButton(tr("Assist"), m_ui->menuView);
    m_focusAssistBtn->setCheckable(true);
    m_focusAssistBtn->setToolTip(tr("Focus assist: score, graph and sweep (F)"));
    m_ui->focusLayout->addWidget(m_focusAssistBtn);
    outlets.focusPanel = m_focusPanel;
    outlets.focusAssistBtn = m_focusAssistBtn;
    m_settings = services.settings;
    m_controller = std::make_unique<ViewController>(outlets, services);
    connectActions();
    restoreWindowGeometry();
}

MainWindow::~MainWindow() = default;

QList<QPushButton *> MainWindow::modeButtons() const
{
    return {m_ui->currentModeBtn, m_ui->modeBtn1, m_ui->modeBtn2, m_ui->modeBtn3};
}

void MainWindow::fillControls()
{
    // The pop-up lists the box's sizes from the largest down; each item
    // carries the box's tag for that size.
    auto entries = resolution::kTable;
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return qint64(a.width) * a.height > qint64(b.width) * b.height;
    });
    for (const auto &e : entries)
        m_ui->resolutionPopBtn->addItem(QStringLiteral("%1 × %2").arg(e.width).arg(e.height),
                                        e.tag);
    platform::controls::selectItemWithTag(m_ui->resolutionPopBtn, 0);

    // Mode buttons carry the mode as their tag; currentModeBtn starts as photo.
    const QList<QPushButton *> modes = modeButtons();
    for (int i = 0; i < modes.size(); ++i)
        platform::controls::setTag(modes[i], i);

    m_ui->photoBtn->setIcon(platform::assets::icon(QStringLiteral("icon_camera_shoot_White")));
    m_ui->leftBtn->setIcon(platform::assets::icon(QStringLiteral("chevron_left")));
    m_ui->rightBtn->setIcon(platform::assets::icon(QStringLiteral("chevron_right")));
    m_ui->openFileBtn->setIcon(platform::assets::icon(QStringLiteral("folder")));
    m_ui->tipsLab->setAttribute(Qt::WA_TransparentForMouseEvents);

    // A click leaves the keyboard where it was, so that Space keeps taking
    // pictures after a click on any button; Tab still reaches every one.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setFocusPolicy(Qt::TabFocus);
    m_ui->resolutionPopBtn->setFocusPolicy(Qt::TabFocus); // its list would take the letters
    // The keyboard starts on the picture, where no key has a meaning of its own.
    m_ui->previewImgeView->setFocusPolicy(Qt::StrongFocus);
    m_ui->previewImgeView->setFocus();
    m_ui->timeLab->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MainWindow::connectActions()
{
    // Actions are connected as the controller gains them.

    // MARK: - ViewController_Connection.cpp, ViewController_Capture.cpp
    // clicked() follows the toggle, so the action reads the new state.
    connect(m_ui->statusBtn, &QPushButton::clicked, m_controller.get(),
            [this] { m_controller->clickStatusBtn(m_ui->statusBtn); });
    connect(m_ui->photoBtn, &QPushButton::clicked, m_controller.get(),
            [this] { m_controller->clickPhotoBtn(m_ui->photoBtn); });
    for (QPushButton *modeBtn : modeButtons())
        connect(modeBtn, &QPushButton::clicked, m_controller.get(),
                [this, modeBtn] { m_controller->clickModeBtn(modeBtn); });

    // MARK: - ViewController_Controls.cpp, ViewController_Shortcuts.cpp
    ViewController *c = m_controller.get();
    connect(m_ui->whiteBalanceBtn, &QPushButton::clicked, c,
            [this, c] { c->clickWhiteBalanceBtn(m_ui->whiteBalanceBtn); });
    connect(m_ui->exposureBtn, &QPushButton::clicked, c,
            [this, c] { c->clickExposureBtn(m_ui->exposureBtn); });
    // One action per user move of a slider: at the end of a drag, or per
    // key, wheel or groove step; the value the controller sets sends nothing.
    platform::controls::connectSliderAction(m_ui->whiteBalanceSlider, c, [this, c] {
        c->sliderWhiteBalance(m_ui->whiteBalanceSlider);
    });
    platform::controls::connectSliderAction(m_ui->exposureSlider, c,
                                            [this, c] { c->sliderExposure(m_ui->exposureSlider); });
    // activated is the user's choice, also of the item already shown.
    connect(m_ui->resolutionPopBtn, &QComboBox::activated, c,
            [this, c] { c->clickResolutionPopBtn(m_ui->resolutionPopBtn); });
    connect(m_ui->leftBtn, &QPushButton::clicked, c, &ViewController::clickLeftBtn);
    connect(m_ui->rightBtn, &QPushButton::clicked, c, &ViewController::clickRightBtn);

    // MARK: - ViewController_Aids.cpp
    for (const AidInfo &a : kAids)
        if (QPushButton *button = c->outlets().aids.buttons[int(a.aid) - 1])
            connect(button, &QPushButton::clicked, c,
                    [c, aid = a.aid](bool checked) { c->setAid(aid, checked); });

    // MARK: - ViewController_Focus.cpp
    // Letters, and Esc, that no other control of the window takes.
    connect(m_focusAssistBtn, &QPushButton::clicked, c, [c] { c->toggleFocusPanel(); });
    const auto key = [this, c](QKeySequence sequence, void (ViewController::*action)()) {
        auto *shortcut = new QShortcut(sequence, this);
        connect(shortcut, &QShortcut::activated, c, action);
    };
    key(QKeySequence(Qt::Key_F), &ViewController::toggleFocusPanel);
    key(QKeySequence(Qt::Key_R), &ViewController::toggleFocusRegion);
    key(QKeySequence(Qt::Key_L), &ViewController::cycleLoupe);
    key(QKeySequence(Qt::Key_Escape), &ViewController::cancelFocusSweep);
    key(QKeySequence(Qt::CTRL | Qt::Key_F), &ViewController::clickFindFocus);

    // MARK: - ViewController_SaveLocation.cpp
    connect(m_ui->chooseFolderBtn, &QPushButton::clicked, c,
            [this, c] { c->clickChooseSaveLocation(m_ui->chooseFolderBtn); });
    connect(m_ui->openFileBtn, &QPushButton::clicked, c,
            [this, c] { c->clickOpenFileBtn(m_ui->openFileBtn); });
}

namespace
{
const QString kWindowGeometryKey = QStringLiteral("window/geometry");
}

void MainWindow::restoreWindowGeometry()
{
    // Where the window was last time; a first start keeps the form's size.
    if (!m_settings)
        return;
    if (const auto stored = m_settings->stringForKey(kWindowGeometryKey))
        restoreGeometry(QByteArray::fromBase64(stored->toLatin1()));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_settings)
        m_settings->setString(kWindowGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
    QMainWindow::closeEvent(event);
}
