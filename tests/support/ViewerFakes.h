#pragma once

#include "platform/FixedWifiName.h"
#include "platform/RecordingAlerts.h"
#include "viewer/ViewerServices.h"

// The viewer's platform services as fakes, for tests that build the window or
// the controller. By default the computer is on the camera box's network, so
// the start-up network check stays quiet. Keep it alive longer than the window.
struct ViewerFakes {
    platform::RecordingAlerts alerts;
    platform::FixedWifiName wifiName{QStringLiteral("Orbilens-Sim")};

    ViewerServices services() { return ViewerServices{alerts, wifiName}; }
};
