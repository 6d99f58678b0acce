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

// Records each alert's informative text instead of showing it; answer()
// ends the oldest unanswered one as a user would, running its completion.
class RecordingAlerts final : public platform::Alerts
{
public:
    void show(const platform::AlertContent &content, Completion completion) override
    {
        informativeTexts << content.informativeText;
        m_unanswered.enqueue(std::move(completion));
    }
    // False when every alert has been answered.
    bool answer(int response = kFirstButtonResponse)
    {
        if (m_unanswered.isEmpty())
            return false;
        if (const Completion completion = m_unanswered.dequeue()) // it may show another alert
            completion(response);
        return true;
    }
    QStringList informativeTexts;

private:
    QQueue<Completion> m_unanswered;
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

private:
    QHash<QString, QString> m_values;
};

// Answers from a script (a null answer cancels), a cancel once it runs out.
// whileOpen stands for what happens while a real dialog runs the event loop.
class ScriptedFolderChooser final : public platform::FolderChooser
{
public:
    std::optional<QString> chooseFolder(const QString &message) override
    {
        messages << message;
        if (whileOpen)
            whileOpen();
        return answers.isEmpty() ? std::nullopt : answers.dequeue();
    }
    QQueue<std::optional<QString>> answers;
    QStringList messages;
    std::function<void()> whileOpen;
};

// Records each request in order ("open PATH", "show PATH") and answers true
// without asking the desktop.
class RecordingFileBrowser final : public platform::FileBrowser
{
public:
    bool openFolder(const QString &path) override
    {
        return requests << QLatin1String("open ") + path, true;
    }
    bool showFolder(const QString &path) override
    {
        return requests << QLatin1String("show ") + path, true;
    }
    QStringList requests;
};

// A volume of the test's choosing: roomy and ext4 until told otherwise.
class FakeVolumes final : public platform::Volumes
{
public:
    std::optional<qint64> bytesAvailable(const QString &) override { return freeBytes; }
    QString fileSystemType(const QString &) override { return type; }
    std::optional<qint64> freeBytes = qint64(1) << 40;
    QString type = QStringLiteral("ext4");
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
