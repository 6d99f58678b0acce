#pragma once

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <variant>

// What ZUFileManager can write into a file, and how each kind lands on disk:
//   bytes        as they are
//   text         UTF-8, no byte-order mark
//   list of text an XML property list holding an array of strings
//   map of text  an XML property list holding a dictionary of strings
//   image        PNG
// A value that arrives untyped (a QVariant from a model or a settings store)
// goes through fromVariant(); anything it cannot map is kept as "unsupported"
// with its type name, and writing it throws ZUFileException.
//
// A plain value type, safe to copy and to hand to another thread.
class ZUFileContent
{
public:
    using TextMap = QMap<QString, QString>;
    enum class Kind { Bytes = 1, Text, TextList, TextMap, Image, Unsupported };

    ZUFileContent(const QByteArray &bytes) : m_value(bytes) {}
    ZUFileContent(const QString &text) : m_value(text) {}
    ZUFileContent(const QStringList &list) : m_value(list) {}
    ZUFileContent(const TextMap &map) : m_value(map) {}
    ZUFileContent(const QImage &image) : m_value(image) {}

    // Maps QByteArray, QString, QStringList, a QVariantList of strings, a
    // QVariantMap or QVariantHash of strings and QImage onto the kinds above;
    // anything else becomes Unsupported. An invalid QVariant is no content.
    static std::optional<ZUFileContent> fromVariant(const QVariant &value);

    Kind kind() const;
    // The C++ or Qt type name of the value ("QString", "QDateTime", ...).
    QString typeName() const;

    // The bytes that go into the file. Empty optional for Unsupported and for
    // an image that cannot be encoded (a null image).
    std::optional<QByteArray> encoded() const;

private:
    struct Unsupported {
        QString typeName;
    };
    explicit ZUFileContent(Unsupported unsupported) : m_value(std::move(unsupported)) {}

    std::variant<QByteArray, QString, QStringList, TextMap, QImage, Unsupported> m_value;
};
