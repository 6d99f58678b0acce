// Reading the joined network's name from nl80211 interface messages, built
// here byte by byte as the kernel sends them.

#include "platform/Nl80211WifiName.h"

#include <QDir>
#include <QTest>

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <cstring>

namespace
{
using Interface = platform::Nl80211WifiName::Interface;

QByteArray bytesOf(const void *data, size_t size)
{
    return QByteArray(static_cast<const char *>(data), qsizetype(size));
}

QByteArray attr(quint16 type, const QByteArray &payload)
{
    const nlattr header{quint16(NLA_HDRLEN + payload.size()), type};
    QByteArray out = bytesOf(&header, sizeof header) + payload;
    out.append(NLA_ALIGN(out.size()) - out.size(), '\0');
    return out;
}

QByteArray u32(quint32 value)
{
    return bytesOf(&value, sizeof value);
}

QByteArray message(const QByteArray &attributes)
{
    const genlmsghdr genl{NL80211_CMD_NEW_INTERFACE, 0, 0};
    nlmsghdr header{};
    header.nlmsg_len = quint32(NLMSG_HDRLEN + GENL_HDRLEN + attributes.size());
    header.nlmsg_type = 0x1c; // the family id the kernel gave nl80211
    header.nlmsg_flags = NLM_F_MULTI;
    header.nlmsg_seq = 1;
    return bytesOf(&header, sizeof header) + bytesOf(&genl, sizeof genl) + attributes;
}

QByteArray interfaceMessage(quint32 ifindex, quint32 type, const QByteArray *ssid)
{
    QByteArray attributes = attr(NL80211_ATTR_IFINDEX, u32(ifindex)) +
                            attr(NL80211_ATTR_IFNAME, QByteArray("wlan0", 6)) +
                            attr(NL80211_ATTR_IFTYPE, u32(type));
    if (ssid)
        attributes += attr(NL80211_ATTR_SSID, *ssid);
    return message(attributes);
}

Interface station(quint32 ifindex, std::optional<QByteArray> ssid)
{
    return {ifindex, NL80211_IFTYPE_STATION, std::move(ssid)};
}
} // namespace

class tst_Nl80211WifiName : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesAJoinedStation();
    void parsesAStationThatHasJoinedNothing();
    void refusesMalformedMessages();
    void firstJoinedStationNamesTheNetwork();
    void noJoinedStationMeansNoName();
    void queryOnThisMachine();
};

void tst_Nl80211WifiName::parsesAJoinedStation()
{
    const QByteArray ssid("Orbilens-5G");
    const auto parsed = platform::Nl80211WifiName::parseInterface(
        interfaceMessage(3, NL80211_IFTYPE_STATION, &ssid));
    QVERIFY(parsed);
    QCOMPARE(parsed->ifindex, 3u);
    QCOMPARE(parsed->type, quint32(NL80211_IFTYPE_STATION));
    QCOMPARE(parsed->ssid, std::optional<QByteArray>(ssid));
}

void tst_Nl80211WifiName::parsesAStationThatHasJoinedNothing()
{
    const auto parsed = platform::Nl80211WifiName::parseInterface(
        interfaceMessage(4, NL80211_IFTYPE_STATION, nullptr));
    QVERIFY(parsed);
    QCOMPARE(parsed->ifindex, 4u);
    QVERIFY(!parsed->ssid);
}

void tst_Nl80211WifiName::refusesMalformedMessages()
{
    using platform::Nl80211WifiName;
    const QByteArray ssid("Orbilens");
    const QByteArray good = interfaceMessage(3, NL80211_IFTYPE_STATION, &ssid);
    QVERIFY(Nl80211WifiName::parseInterface(good));

    // Shorter than its header says.
    QVERIFY(!Nl80211WifiName::parseInterface(good.left(good.size() - 4)));
    // Not even a netlink header.
    QVERIFY(!Nl80211WifiName::parseInterface(good.left(8)));
    QVERIFY(!Nl80211WifiName::parseInterface({}));
    // No interface index.
    QVERIFY(!Nl80211WifiName::parseInterface(
        message(attr(NL80211_ATTR_IFTYPE, u32(NL80211_IFTYPE_STATION)))));
    // An interface type too short to hold its 32 bits.
    QVERIFY(!Nl80211WifiName::parseInterface(
        message(attr(NL80211_ATTR_IFINDEX, u32(3)) + attr(NL80211_ATTR_IFTYPE, QByteArray(2, 2)))));
    // An SSID longer than 802.11 allows.
    const QByteArray tooLong(33, 'O');
    QVERIFY(
        !Nl80211WifiName::parseInterface(interfaceMessage(3, NL80211_IFTYPE_STATION, &tooLong)));
    // A first attribute whose length runs past the message: nothing after
    // it can be trusted, so nothing is read.
    QByteArray overrun = good;
    const nlattr bogus{quint16(200), NL80211_ATTR_IFINDEX};
    std::memcpy(overrun.data() + NLMSG_HDRLEN + GENL_HDRLEN, &bogus, sizeof bogus);
    QVERIFY(!Nl80211WifiName::parseInterface(overrun));
}

void tst_Nl80211WifiName::firstJoinedStationNamesTheNetwork()
{
    using platform::Nl80211WifiName;
    // An access point also carries an SSID: its own network, not a joined one.
    const std::vector<Interface> interfaces{
        {2, NL80211_IFTYPE_AP, QByteArray("HotSpot")},
        station(3, std::nullopt),
        station(4, QByteArray("Orbilens-A1")),
        station(5, QByteArray("HomeNet")),
    };
    QCOMPARE(Nl80211WifiName::joinedNetworkName(interfaces),
             std::optional<QString>(QStringLiteral("Orbilens-A1")));

    // Names are read as UTF-8.
    QCOMPARE(Nl80211WifiName::joinedNetworkName({station(3, QByteArray("Café"))}),
             std::optional<QString>(QStringLiteral("Café")));
}

void tst_Nl80211WifiName::noJoinedStationMeansNoName()
{
    using platform::Nl80211WifiName;
    QCOMPARE(Nl80211WifiName::joinedNetworkName({}), std::nullopt);
    QCOMPARE(Nl80211WifiName::joinedNetworkName({station(3, std::nullopt)}), std::nullopt);
    QCOMPARE(Nl80211WifiName::joinedNetworkName({{2, NL80211_IFTYPE_AP, QByteArray("HotSpot")}}),
             std::nullopt);
    QCOMPARE(Nl80211WifiName::joinedNetworkName({{2, NL80211_IFTYPE_MONITOR, std::nullopt}}),
             std::nullopt);
    // Joined, but the name is not given.
    QCOMPARE(Nl80211WifiName::joinedNetworkName({station(3, QByteArray())}), std::nullopt);
}

void tst_Nl80211WifiName::queryOnThisMachine()
{
    // The kernel's own answer. Build machines have no Wi-Fi: then there is no
    // name, whether or not the kernel knows nl80211 at all.
    bool hasWireless = false;
    const QDir net(QStringLiteral("/sys/class/net"));
    for (const QString &name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        hasWireless =
            hasWireless || QDir(net.filePath(name + QStringLiteral("/wireless"))).exists();
    platform::Nl80211WifiName wifi;
    const std::optional<QString> ssid = wifi.currentNetworkName();
    if (hasWireless)
        QSKIP("this machine has Wi-Fi; its network name is whatever it has joined");
    QCOMPARE(ssid, std::nullopt);
}

QTEST_GUILESS_MAIN(tst_Nl80211WifiName)
#include "tst_Nl80211WifiName.moc"
