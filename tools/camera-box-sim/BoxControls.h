#pragma once

#include <QByteArray>
#include <QSize>

// The camera controls the box keeps, and how a command's query changes them.
// Like the box's own server, the parser finds "id=", "group=" and "value="
// anywhere in the query, so separators between the other keys do not matter.
struct BoxControls {
    bool focusAuto = true;
    // The focus drive: the motor's position, 0..1000, and the lens it drives
    // through a little slack. Moving towards far, the lens trails the motor by
    // the backlash; moving towards near, it follows the motor exactly. So a
    // reversal first takes up the slack before the lens moves.
    int motorPosition = 350;
    int focusPosition = 350; // the lens; the sky is sharpest at bestFocus
    int bestFocus = 500;
    int backlash = 8;
    bool exposureAuto = true;
    int exposureAbsolute = 300; // in 100 us
    bool whiteBalanceAuto = true;
    int whiteBalanceTemperature = 4600; // kelvin
    int resolutionTag = 0;

    enum class Result { Applied, Rejected };

    // Applies one command query ("action=command...&id=..&group=..&value=..").
    Result apply(const QByteArray &query);

    QSize frameSize() const;
    int defocus() const; // distance from the sharpest position
};

// The integer after the first occurrence of key in query; false when absent
// or not a number.
bool findQueryNumber(const QByteArray &query, const QByteArray &key, long long *value);
