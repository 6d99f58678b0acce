#pragma once

#include <QString>
#include <QtGlobal>

// The camera box's command URLs, built in this one place.
//
// A command is one GET whose whole meaning is in its query. The box finds
// each key anywhere in the query, and the box and its other clients use the
// queries exactly as written here, so the odd separators stay as they are:
// the control prefix has no "&" between "action=command" and "dest=0", and
// neither kind of command has one between "dest=0" and "plugin=0".
//
// Values travel as the caller's text: nothing is converted or range-checked.
// The base URL comes from CameraAddress, so these are main-thread only.
namespace CommandUrl
{

// The Video4Linux2 control identifiers that the box takes in group 1.
enum class ControlId : quint32 {
    FocusAuto = 10094860,              // V4L2_CID_FOCUS_AUTO: "0" switches autofocus off
    FocusAbsolute = 10094858,          // V4L2_CID_FOCUS_ABSOLUTE: focus position
    ExposureAuto = 10094849,           // V4L2_CID_EXPOSURE_AUTO: "1" manual, "3" auto time
    ExposureAbsolute = 10094850,       // V4L2_CID_EXPOSURE_ABSOLUTE: units of 100 us
    AutoWhiteBalance = 9963788,        // V4L2_CID_AUTO_WHITE_BALANCE: "1" auto, "0" manual
    WhiteBalanceTemperature = 9963802, // V4L2_CID_WHITE_BALANCE_TEMPERATURE: kelvin
};

// The tail of a control command: "<id>&group=1&value=<value>".
QString parameterString(ControlId id, const QString &value);

// "<base>/?action=commanddest=0plugin=0&id="
QString commandBaseUrl();

// A control command: the command base URL followed by a parameter string.
QString controlCommand(const QString &parameterString);

// A resolution command for a tag of the resolution table (0 to 11):
// "<base>/?action=command&dest=0plugin=0&id=0&group=2&value=<tag>".
QString resolutionCommand(qint64 tag);

} // namespace CommandUrl
