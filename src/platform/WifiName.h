#pragma once

#include <QString>

#include <optional>

namespace platform
{

// The name (SSID) of the Wi-Fi network this computer has joined.
//
// Main thread only. currentNetworkName() answers at once; it may make a
// short local query of the kernel but never waits on the network. The
// application owns the service; users hold a reference that must not
// outlive it.
class WifiName
{
public:
    virtual ~WifiName() = default;

    // The network's name, or nothing when there is no Wi-Fi interface, none
    // has joined a network, or the name is not given.
    virtual std::optional<QString> currentNetworkName() = 0;
};

} // namespace platform
