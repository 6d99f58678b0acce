// The judging of the camera box's answers to commands: from status, content
// type and body to the response object and the success flag.
//
// Input: two bytes that pick the status, the Content-Type value up to the
// first line feed, then the body. Checked on every input: success only ever
// comes from status 200, an accepted content type and a body within the cap;
// whenever the body is a JSON object or array on its own, the response object
// is exactly that value; and the flag agrees with the object's "result".

#include "control/CommandAnswer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

namespace
{

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_command_answer: %s\n", what);
    std::abort();
}

QByteArray upperAscii(QByteArrayView bytes)
{
    QByteArray out = bytes.toByteArray();
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // Mostly 200, the only status that can succeed; otherwise anything.
    const int status = (uchar(input[0]) & 1) ? 200 : (uchar(input[0]) | uchar(input[1]) << 8) % 600;
    const QByteArrayView rest = input.sliced(2);
    const qsizetype lineEnd = rest.indexOf('\n');
    const QByteArrayView contentType =
        lineEnd < 0 ? QByteArrayView("application/json") : rest.first(lineEnd);
    const QByteArrayView body = lineEnd < 0 ? rest : rest.sliced(lineEnd + 1);

    const bool accepted = CommandAnswer::isAcceptableContentType(contentType);
    if (accepted != CommandAnswer::isAcceptableContentType(upperAscii(contentType)))
        fail("the content type test depends on letter case");

    const QJsonValue object = CommandAnswer::responseObject(status, contentType, body);
    const bool success = CommandAnswer::isSuccess(object);

    if (!object.isUndefined() &&
        (status != 200 || !accepted || body.size() > CommandAnswer::kMaxBodyBytes))
        fail("a response object from an answer that is not one");
    if (success && !object.isObject())
        fail("success without a JSON object");
    if (success != (object.isObject() && object.toObject().value(QLatin1String("result")) ==
                                             QJsonValue(QStringLiteral("0"))))
        fail("the flag disagrees with the object's result");

    // An object or array on its own must come out as the same value.
    if (status == 200 && accepted && body.size() <= CommandAnswer::kMaxBodyBytes) {
        QJsonParseError error{};
        const QJsonDocument direct = QJsonDocument::fromJson(body.toByteArray(), &error);
        if (error.error == QJsonParseError::NoError) {
            const QJsonValue expected =
                direct.isObject() ? QJsonValue(direct.object()) : QJsonValue(direct.array());
            if (object != expected)
                fail("an object or array answer decoded to another value");
        }
    }
    return 0;
}
