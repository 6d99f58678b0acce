#pragma once

#include "platform/Alerts.h"

#include <QList>

namespace platform
{

// An Alerts for tests: show() records the alert and returns; nothing is on
// screen. answer() ends the oldest unanswered alert as a user would, running
// its completion.
//
// Main thread only; see Alerts.
class RecordingAlerts final : public Alerts
{
public:
    struct Shown {
        AlertContent content;
        Completion completion;
        bool answered = false;
    };

    void show(const AlertContent &content, Completion completion) override
    {
        m_shown.append({content, std::move(completion), false});
    }

    // Every alert shown so far, oldest first.
    const QList<Shown> &shown() const { return m_shown; }
    // The informative texts of every alert shown so far, oldest first.
    QStringList informativeTexts() const
    {
        QStringList texts;
        for (const Shown &s : m_shown)
            texts << s.content.informativeText;
        return texts;
    }

    // Ends the oldest unanswered alert with the given response. False when
    // every alert has been answered.
    bool answer(int response = kFirstButtonResponse)
    {
        for (Shown &s : m_shown) {
            if (s.answered)
                continue;
            s.answered = true;
            // A copy: the completion may show another alert and grow the list.
            const Completion completion = s.completion;
            if (completion)
                completion(response);
            return true;
        }
        return false;
    }

private:
    QList<Shown> m_shown;
};

} // namespace platform
