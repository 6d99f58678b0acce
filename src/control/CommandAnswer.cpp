#include "control/CommandAnswer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace CommandAnswer
{

namespace
{

constexpr std::array<QByteArrayView, 9> kAcceptedTypes = {
    "text/plain", "multipart/form-data",      "application/json", "text/html",       "image/jpeg",
    "image/png",  "application/octet-stream", "text/json",        "text/javascript",
};

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

} // namespace

bool isAcceptableContentType(QByteArrayView contentTypeHeader)
{
    const qsizetype semicolon = contentTypeHeader.indexOf(';');
    const QByteArrayView mediaType =
        (semicolon < 0 ? contentTypeHeader : contentTypeHeader.first(semicolon)).trimmed();
    for (QByteArrayView accepted : kAcceptedTypes)
        if (equalsIgnoringCase(mediaType, accepted))
            return true;
    return false;
}

QJsonValue responseObject(int httpStatus, QByteArrayView contentTypeHeader, QByteArrayView body)
{
    if (httpStatus != 200 || !isAcceptableContentType(contentTypeHeader) ||
        body.size() > kMaxBodyBytes)
        return QJsonValue(QJsonValue::Undefined);
    // QJsonDocument takes only an object or an array at the top. Wrapped in
    // brackets, exactly one JSON value of any kind parses to a one-element
    // array; anything else fails to parse or gives another count.
    QByteArray wrapped;
    wrapped.reserve(body.size() + 2);
    wrapped.append('[').append(body).append(']');
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() ||
        document.array().size() != 1)
        return QJsonValue(QJsonValue::Undefined);
    return document.array().first();
}

bool isSuccess(const QJsonValue &responseObject)
{
    if (!responseObject.isObject())
        return false;
    const QJsonValue result = responseObject.toObject().value(QLatin1String("result"));
    return result.isString() && result.toString() == QLatin1String("0");
}

} // namespace CommandAnswer
