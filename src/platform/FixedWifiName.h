#pragma once

#include "platform/WifiName.h"

namespace platform
{

// A WifiName that answers a name it was given instead of asking the Wi-Fi
// interface: for tests, and for the viewer's --assume-network option, which
// lets a demo against the simulator behave as if on the camera box's network.
//
// Main thread only; see WifiName.
class FixedWifiName final : public WifiName
{
public:
    explicit FixedWifiName(std::optional<QString> name = std::nullopt) : m_name(std::move(name)) {}

    void setName(std::optional<QString> name) { m_name = std::move(name); }
    std::optional<QString> currentNetworkName() override { return m_name; }

private:
    std::optional<QString> m_name;
};

} // namespace platform
