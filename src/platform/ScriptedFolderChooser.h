#pragma once

#include "platform/FolderChooser.h"

#include <QQueue>
#include <QStringList>

#include <functional>

namespace platform
{

// A FolderChooser for tests that answers from a script. Each chooseFolder()
// records its message, runs the optional while-open action (standing for
// what happens while a real dialog is up) and takes the next scripted
// answer; with none left it answers as a cancel.
//
// Main thread only; see FolderChooser.
class ScriptedFolderChooser final : public FolderChooser
{
public:
    void answer(const QString &folder) { m_answers.enqueue(folder); }
    void cancel() { m_answers.enqueue(std::nullopt); }
    void setWhileOpen(std::function<void()> action) { m_whileOpen = std::move(action); }

    std::optional<QString> chooseFolder(const QString &message) override
    {
        m_messages << message;
        if (m_whileOpen)
            m_whileOpen();
        return m_answers.isEmpty() ? std::nullopt : m_answers.dequeue();
    }

    // The messages of every request so far, oldest first.
    const QStringList &messages() const { return m_messages; }

private:
    QQueue<std::optional<QString>> m_answers;
    QStringList m_messages;
    std::function<void()> m_whileOpen;
};

} // namespace platform
