#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace platform
{
class Alerts;
class WifiName;
} // namespace platform

// The network check and the tips alert. Class operations only, and no state:
// each takes the platform service it reads from, so that the caller (the
// viewer's controller) decides which Wi-Fi name and which alerts are used.
// Main thread only.
class Tool
{
public:
    Tool() = delete;

    // The camera box's network name starts with this, exactly.
    static constexpr QLatin1String kTelescopeNetworkPrefix{"Orbilens"};
    static constexpr int kTipsAlertOK = 1000;

    // The name of the Wi-Fi network this computer has joined, or nothing.
    static std::optional<QString> getSSID(platform::WifiName &wifiName);

    // True exactly when the joined network's name starts with "Orbilens":
    // case-sensitive, nothing before it, anything after it.
    static bool getTelescopeConnectionStatus(platform::WifiName &wifiName);

    // Shows a one-button alert, "Tips" over tips, with the button "OK", as a
    // sheet on the viewer's window, and returns at once. completionHandler
    // runs later on the main thread with the response (kTipsAlertOK). It is
    // required; an empty one is treated as one that does nothing.
    static void tipsAlertWithTips(platform::Alerts &alerts, const QString &tips,
                                  std::function<void(int response)> completionHandler);
};
