// The Wi-Fi check's reading of the kernel's interface messages. The network
// name inside comes from the air: anyone's access point can call itself
// anything up to 32 bytes, and the viewer shows it in the connection prompt.
//
// Input: one netlink message as the kernel sends it. Checked on every input:
// a name is never longer than 802.11 allows, and a joined network's name is
// the name's bytes read as UTF-8, whatever they are.

#include "platform/Nl80211WifiName.h"

#include <linux/nl80211.h>

#include <cstdio>
#include <cstdlib>

namespace
{

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_wifi_interface: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using platform::Nl80211WifiName;
    const QByteArrayView message(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto parsed = Nl80211WifiName::parseInterface(message);
    if (!parsed)
        return 0;
    if (parsed->ssid && parsed->ssid->size() > 32)
        fail("a network name longer than 32 bytes");
    const auto name = Nl80211WifiName::joinedNetworkName({*parsed});
    const bool joined =
        parsed->type == NL80211_IFTYPE_STATION && parsed->ssid && !parsed->ssid->isEmpty();
    if (name.has_value() != joined)
        fail("a name for an interface that has joined no network, or none for one that has");
    if (name && *name != QString::fromUtf8(*parsed->ssid))
        fail("the name is not the network's bytes read as UTF-8");
    return 0;
}
