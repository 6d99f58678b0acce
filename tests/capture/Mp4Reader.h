#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

// An MP4 file as libavformat reads it back and libavcodec decodes it, so
// that tests check real files rather than what the writer meant to write.
struct Mp4Contents {
    QString error; // empty when the file opened
    QString codecName;
    int width = 0, height = 0;
    int timeBaseNum = 0, timeBaseDen = 1;
    double durationSeconds = -1;
    std::vector<int64_t> pts; // per packet in file order, stream time base
    int decodedFrames = -1;   // when decoding was asked for
    int decodeErrors = 0;
    std::vector<double> meanLuma, topRowLuma; // per decoded frame, 0..255
    // The top-level boxes (type, offset of their end), and whether the last
    // one ends where the file does: a write cut short leaves half a box.
    std::vector<std::pair<QByteArray, qint64>> boxes;
    bool endsWithWholeBox = false;

    // True when packet i has the presentation time i / fps exactly.
    bool hasContiguousTimes(int fps) const
    {
        for (size_t i = 0; i < pts.size(); ++i)
            if (pts[i] * timeBaseNum * fps != int64_t(i) * timeBaseDen)
                return false;
        return true;
    }
    // True when it holds frames, all of them decoded without error, at the
    // times of fps frames a second, and ends with a whole box.
    bool plays(int fps) const
    {
        return !pts.empty() && decodedFrames == int(pts.size()) && decodeErrors == 0 &&
               hasContiguousTimes(fps) && endsWithWholeBox;
    }
};

Mp4Contents readMp4(const QString &path, bool decode = false);
