#pragma once

#include "viewer/ViewerServices.h"

#include <QList>
#include <QMainWindow>

#include <memory>

class QPushButton;
class ViewController;
namespace platform
{
class FocusPanel;
}
namespace Ui
{
class MainWindow;
}

// The viewer's one window: the form, its controller, and the wiring between
// the form's controls and the controller's actions. Creating it creates the
// controller with the form's controls as outlets and the given platform
// services, which must outlive the window; the caller then lets the
// controller load (viewDidLoad) and shows the window. Main thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(ViewerServices services, QWidget *parent = nullptr);
    ~MainWindow() override;

    ViewController &controller() { return *m_controller; }
    Ui::MainWindow &form() { return *m_ui; }
    // Every button whose click changes the capture mode, currentModeBtn first.
    QList<QPushButton *> modeButtons() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void fillControls();
    void connectActions();
    void restoreWindowGeometry();

    std::unique_ptr<Ui::MainWindow> m_ui;
    platform::Settings *m_settings = nullptr;     // the window's size and place; may be null
    platform::FocusPanel *m_focusPanel = nullptr; // owned by the form's view
    QPushButton *m_focusAssistBtn = nullptr;      // owned by the menu
    std::unique_ptr<ViewController> m_controller;
};
