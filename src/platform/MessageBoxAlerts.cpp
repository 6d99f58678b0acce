#include "platform/MessageBoxAlerts.h"

#include "platform/MainQueue.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace platform
{

namespace
{
// QMessageBox takes its width from the short main text ("Tips") and wraps the
// informative text into it, breaking even short lines. A spacer as wide as
// the longest line (within reason) keeps each line whole.
void makeRoomForInformativeText(QMessageBox &box, const QString &text)
{
    constexpr int kMaxTextWidth = 480;
    constexpr int kIconColumn = 80; // the information icon and the spacing beside it
    const QFontMetrics metrics(box.font());
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(std::min(widest, kMaxTextWidth) + kIconColumn, 0,
                                      QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}
} // namespace

MessageBoxAlerts::MessageBoxAlerts(QObject *parent) : QObject(parent) {}

MessageBoxAlerts::~MessageBoxAlerts()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

void MessageBoxAlerts::setWindow(QWidget *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window)
        m_window->installEventFilter(this);
    showNext();
}

void MessageBoxAlerts::show(const AlertContent &content, Completion completion)
{
    m_waiting.enqueue({content, std::move(completion)});
    showNext();
}

bool MessageBoxAlerts::eventFilter(QObject *watched, QEvent *event)
{
    // Shown, not yet necessarily mapped: let the window finish showing first.
    if (watched == m_window && event->type() == QEvent::Show)
        showNextSoon();
    return QObject::eventFilter(watched, event);
}

void MessageBoxAlerts::showNextSoon()
{
    if (m_showScheduled)
        return;
    m_showScheduled = true;
    mainqueue::post(this, [this] {
        m_showScheduled = false;
        showNext();
    });
}

void MessageBoxAlerts::showNext()
{
    if (m_current || m_waiting.isEmpty() || !m_window || !m_window->isVisible())
        return;
    Pending next = m_waiting.dequeue();

    // Owned by the window, so it can never outlive it; deleted once answered.
    auto *box = new QMessageBox(m_window);
    box->setIcon(QMessageBox::Information);
    box->setText(next.content.messageText);
    box->setInformativeText(next.content.informativeText);
    QStringList titles = next.content.buttonTitles;
    if (titles.isEmpty())
        titles << tr("OK");
    QList<QAbstractButton *> buttons;
    for (qsizetype i = 0; i < titles.size(); ++i)
        buttons << box->addButton(titles[i],
                                  i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box->setWindowModality(Qt::WindowModal);
    makeRoomForInformativeText(*box, next.content.informativeText);

    connect(box, &QMessageBox::finished, this,
            [this, box, buttons, completion = std::move(next.completion)] {
                // Escape and closing the sheet count as the escape button,
                // which for a one-button alert is that button.
                const qsizetype index =
                    std::max<qsizetype>(0, buttons.indexOf(box->clickedButton()));
                if (m_current == box)
                    m_current = nullptr;
                box->deleteLater();
                if (completion)
                    completion(int(kFirstButtonResponse + index));
                showNextSoon();
            });
    m_current = box;
    box->open();
}

} // namespace platform
