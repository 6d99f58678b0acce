// The stream's way in from the network: the Content-Type's boundary, the
// multipart splitter and the stream client's chunk path, fed bytes in
// arbitrary cuts.
//
// Input: four cut sizes, the Content-Type value up to the first line feed,
// then the HTTP body. The body goes through the splitter twice, once whole
// and once cut by the sizes at the front of the input; both must find the
// same parts, and the cut run drives the shared CameraBuffer as the network
// would. Checked on every input: the bytes the splitter holds and the part
// buffer stay within their bounds, and every frame is a real picture.

#include "stream/CameraBuffer.h"
#include "stream/CameraBufferDelegate.h"
#include "stream/MultipartParser.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

struct Part {
    qint64 declared = -1;
    QByteArray bytes;
    bool operator==(const Part &) const = default;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_multipart_stream: %s\n", what);
    std::abort();
}

class FrameCheck : public CameraBufferDelegate
{
public:
    void cameraFPS(qint64) override {}
    void cameraBufferImage(const QImage &image) override
    {
        if (image.isNull() || image.format() != QImage::Format_RGB32 ||
            qint64(image.width()) * image.height() > JpegDecoder::kMaxPixels)
            fail("a frame that is no picture, or too large a one");
    }
    void disconnection() override {}
};

// The splitter's output for one way of cutting the body.
std::vector<Part> split(const QByteArray &boundary, QByteArrayView body,
                        const std::vector<qsizetype> &cuts, CameraBuffer *camera)
{
    std::vector<Part> parts;
    MultipartParser::Handlers handlers{[&](qint64 declared) {
                                           parts.push_back({declared, {}});
                                           if (camera)
                                               camera->didReceiveResponse(declared);
                                       },
                                       [&](QByteArrayView bytes) {
                                           if (bytes.isEmpty())
                                               fail("an empty chunk");
                                           if (parts.empty())
                                               fail("body bytes before any part");
                                           parts.back().bytes.append(bytes);
                                           if (camera)
                                               camera->didReceiveData(bytes);
                                       }};
    MultipartParser parser(boundary, std::move(handlers));
    // What the splitter may hold between reads: a part's headers, the blank
    // bytes after a complete part, or a delimiter line, plus the boundary.
    const qsizetype maxHeld =
        std::max(MultipartParser::kMaxHeaderBytes, MultipartParser::kMaxBlankHold) +
        2 * boundary.size() + 512;
    qsizetype at = 0;
    for (size_t i = 0; at < body.size(); ++i) {
        const qsizetype n = std::min(cuts[i % cuts.size()], body.size() - at);
        parser.feed(body.sliced(at, n));
        at += n;
        if (parser.heldBytes() > maxHeld)
            fail("the splitter holds more than its bound");
        if (camera && camera->bufferedBytes() > CameraBuffer::kMaxPartBytes)
            fail("the part buffer outgrew its cap");
    }
    parser.finish();
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static FrameCheck check;
    CameraBuffer::shareInstance().setDelegate(&check);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // A cut of 0 stands for "all the rest", as one large read.
    std::vector<qsizetype> cuts;
    for (int i = 0; i < 4; ++i)
        cuts.push_back(uchar(input[i]) == 0 ? input.size() : uchar(input[i]) % 67 + 1);
    QByteArrayView rest = input.sliced(4);
    const qsizetype lineEnd = rest.indexOf('\n');
    const QByteArrayView contentType = lineEnd < 0 ? QByteArrayView() : rest.first(lineEnd);
    const QByteArrayView body = lineEnd < 0 ? rest : rest.sliced(lineEnd + 1);
    const QByteArray boundary = MultipartParser::boundaryFromContentType(contentType);
    if (boundary.size() > contentType.size())
        fail("a boundary longer than its header");

    CameraBuffer &camera = CameraBuffer::shareInstance();
    camera.clearData();
    camera.didReceiveResponse(0);

    const std::vector<Part> whole = split(boundary, body, {body.size()}, nullptr);
    const std::vector<Part> cut = split(boundary, body, cuts, &camera);
    // The held-back bounds differ with the reads only past kMaxHeaderBytes.
    if (body.size() < MultipartParser::kMaxHeaderBytes && whole != cut)
        fail("cutting the body differently changed the parts");
    return 0;
}
