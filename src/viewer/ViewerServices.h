#pragma once

namespace platform
{
class Alerts;
class WifiName;
class Settings;
class FolderChooser;
class FileBrowser;
class Volumes;
} // namespace platform

// The platform services the viewer's controller asks for. Whoever creates
// the controller (the window, from the application's entry) owns them and
// keeps them alive for the controller's whole life; tests hand in fakes.
struct ViewerServices {
    platform::Alerts &alerts;     // the tips alert
    platform::WifiName &wifiName; // the network check

    // The save folder. Each may be null where a test has no use for it; the
    // controller then does without: nothing is loaded or stored, no folder is
    // chosen (and so none is asked for), nothing is shown in a file manager.
    platform::Settings *settings = nullptr;           // the remembered save folder
    platform::FolderChooser *folderChooser = nullptr; // choosing it
    platform::FileBrowser *fileBrowser = nullptr;     // showing it
    // The save folder's volume: its free space, which guards every capture,
    // and its kind, which decides how captures are named. Null: no guard,
    // names as on any Linux file system.
    platform::Volumes *volumes = nullptr;
};
