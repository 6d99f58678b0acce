#pragma once

#include "platform/FixedWifiName.h"
#include "platform/MemorySettings.h"
#include "platform/RecordingAlerts.h"
#include "platform/RecordingFileBrowser.h"
#include "platform/ScriptedFolderChooser.h"
#include "viewer/ViewerServices.h"

#include <QTemporaryDir>

// The viewer's platform services as fakes, for tests that build the window or
// the controller. By default the computer is on the camera box's network, so
// the start-up network check stays quiet. Keep it alive longer than the window.
//
// By default a save folder is stored too, a fresh temporary folder
// (saveFolder), so the start-up prompt for one stays quiet; NoneStored starts
// with an empty store, as on a first start.
struct ViewerFakes {
    enum class Store { SaveFolderStored = 1, NoneStored };

    explicit ViewerFakes(Store store = Store::SaveFolderStored)
    {
        if (store == Store::SaveFolderStored)
            settings.setString(platform::kSaveFolderKey, saveFolder.path());
    }

    QTemporaryDir saveFolder;
    platform::RecordingAlerts alerts;
    platform::FixedWifiName wifiName{QStringLiteral("Orbilens-Sim")};
    platform::MemorySettings settings;
    platform::ScriptedFolderChooser folderChooser;
    platform::RecordingFileBrowser fileBrowser;

    ViewerServices services()
    {
        return ViewerServices{alerts, wifiName, &settings, &folderChooser, &fileBrowser};
    }
};
