#pragma once

#include "platform/Alerts.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QWidget>

namespace platform
{

// Alerts as window-modal QMessageBoxes (sheets where the window system has
// them), opened with open() so that the caller goes on at once.
//
// The alerts go on one window, given with setWindow(). Until that window is
// set and on screen, as at start-up when the viewer checks the network
// before its window is shown, alerts wait and appear once it is shown; they
// never go on a hidden window. One alert shows at a time: an alert that
// comes while another is showing waits and follows in order, so none is
// lost behind another. An alert on screen when the window is destroyed goes
// with it, without its completion; waiting ones wait for the next window.
//
// Main thread only; see Alerts. The window is not owned.
class MessageBoxAlerts final : public QObject, public Alerts
{
    Q_OBJECT
public:
    explicit MessageBoxAlerts(QObject *parent = nullptr);
    ~MessageBoxAlerts() override;

    void setWindow(QWidget *window);
    QWidget *window() const { return m_window; }

    void show(const AlertContent &content, Completion completion) override;

    // The alert on screen now, or null.
    QMessageBox *current() const { return m_current; }
    // Alerts waiting for their turn (not counting the one on screen).
    qsizetype waiting() const { return m_waiting.size(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Pending {
        AlertContent content;
        Completion completion;
    };

    void showNextSoon();
    void showNext();

    QPointer<QWidget> m_window;
    QQueue<Pending> m_waiting;
    QPointer<QMessageBox> m_current;
    bool m_showScheduled = false;
};

} // namespace platform
