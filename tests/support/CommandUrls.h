#pragma once

#include <QByteArray>

// The request targets of the camera box's commands as the box receives them,
// spelled out here on their own, so that a test compares the wire format
// with what the box expects and not with the code that builds it. The odd
// separators are the box's.
namespace commandurls
{

// V4L2 control ids the box takes in group 1.
inline constexpr const char *kFocusAuto = "10094860";
inline constexpr const char *kFocusAbsolute = "10094858";
inline constexpr const char *kExposureAuto = "10094849";
inline constexpr const char *kExposureAbsolute = "10094850";
inline constexpr const char *kWhiteBalanceAuto = "9963788";
inline constexpr const char *kWhiteBalanceTemperature = "9963802";

inline QByteArray control(const char *id, const QByteArray &value)
{
    return QByteArray("/?action=commanddest=0plugin=0&id=") + id + "&group=1&value=" + value;
}

inline QByteArray resolution(int tag)
{
    return "/?action=command&dest=0plugin=0&id=0&group=2&value=" + QByteArray::number(tag);
}

// "GET <target> HTTP/1.1", as a loopback server records the request line.
inline QByteArray requestLine(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1";
}

} // namespace commandurls
