#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Reads an MP4 file back with libavformat (and, if asked, decodes it with
// libavcodec), so that tests check real files rather than what the writer
// meant to write.
struct Mp4Contents {
    QString error; // empty when the file opened
    QString formatName;
    QString codecName;
    QString pixelFormat;
    int width = 0;
    int height = 0;
    int streamCount = 0;
    int timeBaseNum = 0;
    int timeBaseDen = 1;
    double formatDurationSeconds = 0; // -1 when unknown
    std::vector<int64_t> pts;         // per packet in file order, stream time base
    std::vector<bool> keyFrames;
    int decodedFrames = -1; // when decoding was asked for
    int decodeErrors = 0;
    std::vector<double> meanLuma; // per decoded frame, 0..255

    // True when packet i has the presentation time i / fps exactly.
    bool hasContiguousTimes(int fps) const;
};

Mp4Contents readMp4(const QString &path, bool decode = false);

// What the ffprobe command line tool reports for the first video stream,
// counting frames by decoding them.
struct ProbeReport {
    int exitCode = -1;
    QString errors;
    QString codecName;
    int readFrames = -1;
    double durationSeconds = -1;
};

ProbeReport ffprobe(const QString &path);
