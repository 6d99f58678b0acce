#pragma once

namespace platform
{
class Alerts;
class WifiName;
} // namespace platform

// The platform services the viewer's controller asks for. Whoever creates
// the controller (the window, from the application's entry) owns them and
// keeps them alive for the controller's whole life; tests hand in fakes.
struct ViewerServices {
    platform::Alerts &alerts;     // the tips alert
    platform::WifiName &wifiName; // the network check
};
