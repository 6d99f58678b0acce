#pragma once

#include "platform/Alerts.h"
#include "platform/FileBrowser.h"
#include "platform/FixedWifiName.h"
#include "platform/FolderChooser.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "viewer/ViewerServices.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <QTemporaryDir>

#include <functional>

// Fakes of the platform services, for tests. Main thread only, like the
// services they stand for.

// Records each alert instead of showing it; answer() ends the oldest
// unanswered one as a user would, running its completion.
class RecordingAlerts final : public platform::Alerts
{
public:
    struct Shown {
        platform::AlertContent content;
        Completion completion;
        bool answered = false;
    };
    void show(const platform::AlertContent &content, Completion completion) override
    {
        m_shown.append({content, std::move(completion), false});
    }
    const QList<Shown> &shown() const { return m_shown; }
    QStringList informativeTexts() const
    {
        QStringList texts;
        for (const Shown &s : m_shown)
            texts << s.content.informativeText;
        return texts;
    }
    // False when every alert has been answered.
    bool answer(int response = kFirstButtonResponse)
    {
        for (Shown &s : m_shown) {
            if (s.answered)
                continue;
            s.answered = true;
            const Completion completion = s.completion; // it may show another alert
            if (completion)
                completion(response);
            return true;
        }
        return false;
    }

private:
    QList<Shown> m_shown;
};

// Settings in memory.
class MemorySettings final : public platform::Settings
{
public:
    std::optional<QString> stringForKey(const QString &key) const override
    {
        const auto it = m_values.constFind(key);
        return it == m_values.cend() ? std::nullopt : std::optional(*it);
    }
    bool setString(const QString &key, const QString &value) override
    {
        m_values.insert(key, value);
        return true;
    }
    const QHash<QString, QString> &values() const { return m_values; }

private:
    QHash<QString, QString> m_values;
};

// Answers from a script, a cancel once it runs out. whileOpen stands for what
// happens while a real dialog runs the event loop.
class ScriptedFolderChooser final : public platform::FolderChooser
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
    const QStringList &messages() const { return m_messages; }

private:
    QQueue<std::optional<QString>> m_answers;
    QStringList m_messages;
    std::function<void()> m_whileOpen;
};

// Records each request in order and answers true without asking the desktop.
class RecordingFileBrowser final : public platform::FileBrowser
{
public:
    enum class Kind { OpenFolder = 1, ShowFolder };
    struct Request {
        Kind kind;
        QString path;
        bool operator==(const Request &) const = default;
    };
    bool openFolder(const QString &path) override { return record(Kind::OpenFolder, path); }
    bool showFolder(const QString &path) override { return record(Kind::ShowFolder, path); }
    const QList<Request> &requests() const { return m_requests; }

private:
    bool record(Kind kind, const QString &path)
    {
        m_requests.append({kind, path});
        return true;
    }
    QList<Request> m_requests;
};

// A volume of the test's choosing: roomy and ext4 until told otherwise.
class FakeVolumes final : public platform::Volumes
{
public:
    std::optional<qint64> bytesAvailable(const QString &) override { return m_free; }
    QString fileSystemType(const QString &) override { return m_type; }
    void setBytesAvailable(std::optional<qint64> bytes) { m_free = bytes; }
    void setFileSystemType(const QString &type) { m_type = type; }

private:
    std::optional<qint64> m_free = qint64(1) << 40;
    QString m_type = QStringLiteral("ext4");
};

// The viewer's services as fakes. By default the computer is on the box's
// network and a fresh temporary save folder is stored, so start-up stays
// quiet; NoneStored starts with an empty store, as on a first start. Keep it
// alive longer than the window.
struct ViewerFakes {
    enum class Store { SaveFolderStored = 1, NoneStored };

    explicit ViewerFakes(Store store = Store::SaveFolderStored)
    {
        if (store == Store::SaveFolderStored)
            settings.setString(platform::kSaveFolderKey, saveFolder.path());
    }

    QTemporaryDir saveFolder;
    RecordingAlerts alerts;
    platform::FixedWifiName wifiName{QStringLiteral("Orbilens-Sim")};
    MemorySettings settings;
    ScriptedFolderChooser folderChooser;
    RecordingFileBrowser fileBrowser;
    FakeVolumes volumes;

    ViewerServices services()
    {
        return ViewerServices{alerts, wifiName, &settings, &folderChooser, &fileBrowser, &volumes};
    }
};
