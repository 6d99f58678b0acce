#include "BoxControls.h"

#include <array>
#include <cstdlib>

namespace
{
// Control identifiers the box understands (V4L2 control ids).
constexpr long long kFocusAuto = 10094860;
constexpr long long kFocusAbsolute = 10094858;
constexpr long long kExposureAuto = 10094849;
constexpr long long kExposureAbsolute = 10094850;
constexpr long long kWhiteBalanceAuto = 9963788;
constexpr long long kWhiteBalanceTemperature = 9963802;

// The picture sizes the box's sensor mode serves, indexed by the value of its
// resolution command (group 2). Values outside the table are refused.
constexpr std::array<QSize, 12> kServedSizes{{
    {640, 480},   // 0: the box's start-up mode
    {3840, 2160}, // 1
    {2592, 1944}, // 2
    {2688, 1512}, // 3
    {2048, 1536}, // 4
    {1920, 1080}, // 5
    {1600, 1200}, // 6
    {1280, 960},  // 7
    {1280, 720},  // 8
    {960, 540},   // 9
    {800, 600},   // 10
    {640, 360},   // 11
}};

bool servesResolution(long long value)
{
    return value >= 0 && value < qsizetype(kServedSizes.size());
}
} // namespace

bool findQueryNumber(const QByteArray &query, const QByteArray &key, long long *value)
{
    qsizetype at = query.indexOf(key);
    if (at < 0)
        return false;
    at += key.size();
    qsizetype end = at;
    if (end < query.size() && query[end] == '-')
        ++end;
    while (end < query.size() && query[end] >= '0' && query[end] <= '9' && end - at < 18)
        ++end;
    bool ok = false;
    *value = query.mid(at, end - at).toLongLong(&ok);
    return ok;
}

BoxControls::Result BoxControls::apply(const QByteArray &query)
{
    long long id = 0, group = 0, value = 0;
    if (!findQueryNumber(query, "id=", &id) || !findQueryNumber(query, "group=", &group) ||
        !findQueryNumber(query, "value=", &value))
        return Result::Rejected;
    const auto inRange = [value](long long lo, long long hi) { return value >= lo && value <= hi; };
    if (group == 2 && id == 0) { // resolution
        if (!servesResolution(value))
            return Result::Rejected;
        resolutionTag = int(value);
        return Result::Applied;
    }
    if (group != 1)
        return Result::Rejected;
    switch (id) {
    case kFocusAuto:
        if (!inRange(0, 1))
            return Result::Rejected;
        focusAuto = value == 1;
        return Result::Applied;
    case kFocusAbsolute:
        // The focus motor: 11..49 drive towards near, 81..99 towards far, by
        // (value - 10) or (value - 80) steps; 10 and 80 stop it.
        if (!inRange(0, 100))
            return Result::Rejected;
        if (value > 10 && value < 50) {
            motorPosition = std::max(0, motorPosition - int(value - 10) * 2);
            focusPosition = std::min(focusPosition, motorPosition);
        } else if (value > 80 && value < 100) {
            motorPosition = std::min(1000, motorPosition + int(value - 80) * 2);
            focusPosition = std::max(focusPosition, motorPosition - backlash);
        }
        return Result::Applied;
    case kExposureAuto:
        if (!inRange(0, 3))
            return Result::Rejected;
        exposureAuto = value != 1;
        return Result::Applied;
    case kExposureAbsolute:
        if (!inRange(1, 10000))
            return Result::Rejected;
        exposureAbsolute = int(value);
        return Result::Applied;
    case kWhiteBalanceAuto:
        if (!inRange(0, 1))
            return Result::Rejected;
        whiteBalanceAuto = value == 1;
        return Result::Applied;
    case kWhiteBalanceTemperature:
        if (!inRange(2000, 10000))
            return Result::Rejected;
        whiteBalanceTemperature = int(value);
        return Result::Applied;
    default:
        return Result::Rejected;
    }
}

QSize BoxControls::frameSize() const
{
    return servesResolution(resolutionTag) ? kServedSizes[std::size_t(resolutionTag)]
                                           : kServedSizes[0];
}

int BoxControls::defocus() const
{
    return focusAuto ? 0 : std::abs(focusPosition - bestFocus);
}
