#pragma once

#include <QByteArrayView>
#include <QJsonValue>

// Judging the camera box's answer to a command.
//
// Pure functions of the bytes that came back, so that they can be exercised
// without a network. The box answers a small JSON object whose "result" is
// the text "0" when it carried the command out; everything else is failure.
namespace CommandAnswer
{

// The box answers a few bytes. A longer body is not an answer: the client
// stops reading it and counts the command as failed.
constexpr qsizetype kMaxBodyBytes = 64 * 1024;

// True when the media type of a Content-Type header value (parameters after
// ";" ignored, case-insensitive) is one of the nine the client accepts:
// text/plain, multipart/form-data, application/json, text/html, image/jpeg,
// image/png, application/octet-stream, text/json, text/javascript.
bool isAcceptableContentType(QByteArrayView contentTypeHeader);

// The response object of an answer: the body decoded as one JSON value (a
// lone scalar allowed) when the status is exactly 200, the content type is
// accepted and the body is at most kMaxBodyBytes. Otherwise, or when the body
// is not exactly one JSON value, an undefined value: no response object.
QJsonValue responseObject(int httpStatus, QByteArrayView contentTypeHeader, QByteArrayView body);

// True exactly when the response object is a JSON object whose member
// "result" is the text "0". The number 0, any other text, a missing member,
// any other kind of value and no response object are all failure.
bool isSuccess(const QJsonValue &responseObject);

} // namespace CommandAnswer
