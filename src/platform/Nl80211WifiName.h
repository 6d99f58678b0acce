#pragma once

#include "platform/WifiName.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

namespace platform
{

// The joined network's name from the kernel's Wi-Fi interface (nl80211,
// through libnl-genl), the way `iw dev` reads it, so it works whichever
// network manager the desktop runs and needs no privileges.
//
// Each call lists the wireless interfaces (NL80211_CMD_GET_INTERFACE) and
// answers the SSID of the first interface in station mode that has joined a
// network. No nl80211 in the kernel, or no wireless interface, means
// nothing. The query is local to the kernel and bounded by a one-second
// receive time-out.
//
// Main thread only; see WifiName.
class Nl80211WifiName final : public WifiName
{
public:
    std::optional<QString> currentNetworkName() override;

    // One interface as nl80211 describes it.
    struct Interface {
        quint32 ifindex = 0;
        quint32 type = 0;               // enum nl80211_iftype
        std::optional<QByteArray> ssid; // present once the interface has joined a network
    };

    // Reads one interface message (netlink header, generic netlink header and
    // nl80211 attributes, as the kernel sends it). Nothing when the bytes are
    // not a well-formed message with an interface index and type.
    static std::optional<Interface> parseInterface(QByteArrayView message);

    // The name of the network joined by the first station-mode interface
    // that has joined one. Nothing when none has, or when that network's
    // name is empty. SSIDs are bytes; they are read as UTF-8.
    static std::optional<QString> joinedNetworkName(const std::vector<Interface> &interfaces);
};

} // namespace platform
