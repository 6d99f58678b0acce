#pragma once

#include <QtGlobal>

// A rational point on a recording's time line: value / timescale seconds.
// The video writer stamps frame n of a recording with {n, fps}.
struct MediaTime {
    qint64 value = 0;
    qint32 timescale = 0;

    double seconds() const { return timescale > 0 ? double(value) / timescale : 0.0; }
    friend bool operator==(const MediaTime &, const MediaTime &) = default;
};
