#include "platform/Nl80211WifiName.h"

#include "platform/LogCategories.h"

#include <linux/nl80211.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cstring>
#include <memory>

namespace platform
{

namespace
{

struct SocketFree {
    void operator()(nl_sock *sock) const { nl_socket_free(sock); }
};
struct MessageFree {
    void operator()(nl_msg *msg) const { nlmsg_free(msg); }
};
using SocketPtr = std::unique_ptr<nl_sock, SocketFree>;
using MessagePtr = std::unique_ptr<nl_msg, MessageFree>;

// Attribute lengths are checked against this before anything is read, so a
// short attribute is refused rather than read past.
const std::array<nla_policy, NL80211_ATTR_MAX + 1> &interfacePolicy()
{
    static const auto policy = [] {
        std::array<nla_policy, NL80211_ATTR_MAX + 1> p{};
        p[NL80211_ATTR_IFINDEX].type = NLA_U32;
        p[NL80211_ATTR_IFTYPE].type = NLA_U32;
        p[NL80211_ATTR_SSID].type = NLA_UNSPEC;
        p[NL80211_ATTR_SSID].maxlen = 32; // IEEE 802.11: at most 32 bytes
        return p;
    }();
    return policy;
}

int collectInterface(nl_msg *msg, void *arg)
{
    auto &found = *static_cast<std::vector<Nl80211WifiName::Interface> *>(arg);
    const nlmsghdr *header = nlmsg_hdr(msg);
    const auto parsed = Nl80211WifiName::parseInterface(
        QByteArrayView(reinterpret_cast<const char *>(header), qsizetype(header->nlmsg_len)));
    if (parsed)
        found.push_back(*parsed);
    return NL_OK;
}

} // namespace

std::optional<Nl80211WifiName::Interface> Nl80211WifiName::parseInterface(QByteArrayView message)
{
    if (message.size() < qsizetype(NLMSG_HDRLEN))
        return std::nullopt;
    // Netlink wants its header 4-byte aligned and writable (libnl's parser
    // takes a non-const header), so work on an aligned copy.
    std::vector<quint32> aligned((size_t(message.size()) + 3) / 4);
    std::memcpy(aligned.data(), message.data(), size_t(message.size()));
    auto *header = reinterpret_cast<nlmsghdr *>(aligned.data());
    if (header->nlmsg_len < NLMSG_HDRLEN || qsizetype(header->nlmsg_len) > message.size())
        return std::nullopt;

    std::array<nlattr *, NL80211_ATTR_MAX + 1> attrs{};
    if (genlmsg_parse(header, 0, attrs.data(), NL80211_ATTR_MAX, interfacePolicy().data()) < 0)
        return std::nullopt;
    if (!attrs[NL80211_ATTR_IFINDEX] || !attrs[NL80211_ATTR_IFTYPE])
        return std::nullopt;

    Interface out;
    out.ifindex = nla_get_u32(attrs[NL80211_ATTR_IFINDEX]);
    out.type = nla_get_u32(attrs[NL80211_ATTR_IFTYPE]);
    if (const nlattr *ssid = attrs[NL80211_ATTR_SSID])
        out.ssid = QByteArray(static_cast<const char *>(nla_data(ssid)), nla_len(ssid));
    return out;
}

std::optional<QString> Nl80211WifiName::joinedNetworkName(const std::vector<Interface> &interfaces)
{
    for (const Interface &i : interfaces) {
        if (i.type != NL80211_IFTYPE_STATION || !i.ssid)
            continue;
        if (i.ssid->isEmpty())
            return std::nullopt;
        return QString::fromUtf8(*i.ssid);
    }
    return std::nullopt;
}

std::optional<QString> Nl80211WifiName::currentNetworkName()
{
    SocketPtr sock(nl_socket_alloc());
    if (!sock || genl_connect(sock.get()) < 0)
        return std::nullopt;
    // The kernel answers at once; the time-out only guards the main thread
    // against a netlink that never does.
    timeval timeout{1, 0};
    setsockopt(nl_socket_get_fd(sock.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    const int family = genl_ctrl_resolve(sock.get(), NL80211_GENL_NAME);
    if (family < 0) {
        qCDebug(lcPlatform) << "no nl80211: no Wi-Fi network name";
        return std::nullopt; // no nl80211: this machine has no Wi-Fi
    }

    MessagePtr request(nlmsg_alloc());
    if (!request || !genlmsg_put(request.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, NLM_F_DUMP,
                                 NL80211_CMD_GET_INTERFACE, 0))
        return std::nullopt;

    std::vector<Interface> interfaces;
    nl_socket_modify_cb(sock.get(), NL_CB_VALID, NL_CB_CUSTOM, collectInterface, &interfaces);
    if (nl_send_auto(sock.get(), request.get()) < 0)
        return std::nullopt;
    if (const int error = nl_recvmsgs_default(sock.get()); error < 0) {
        qCDebug(lcPlatform) << "nl80211 interface dump failed:" << nl_geterror(error);
        return std::nullopt;
    }
    const std::optional<QString> name = joinedNetworkName(interfaces);
    qCDebug(lcPlatform) << interfaces.size() << "wireless interfaces; network"
                        << name.value_or(QStringLiteral("(none)"));
    return name;
}

} // namespace platform
