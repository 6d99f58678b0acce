#include "util/ZUFileContent.h"

#include <QBuffer>
#include <QImageWriter>
#include <QXmlStreamWriter>

#include <algorithm>
#include <functional>

namespace
{

template <class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

// The property-list layout other tools expect: XML declaration, the plist
// DOCTYPE, tab indentation, one root element.
QByteArray propertyList(const std::function<void(QXmlStreamWriter &)> &writeRoot)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writeRoot(xml);
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray listPlist(const QStringList &list)
{
    return propertyList([&](QXmlStreamWriter &xml) {
        if (list.isEmpty()) {
            xml.writeEmptyElement(QStringLiteral("array"));
            return;
        }
        xml.writeStartElement(QStringLiteral("array"));
        for (const QString &text : list)
            xml.writeTextElement(QStringLiteral("string"), text);
        xml.writeEndElement();
    });
}

QByteArray mapPlist(const ZUFileContent::TextMap &map)
{
    return propertyList([&](QXmlStreamWriter &xml) {
        if (map.isEmpty()) {
            xml.writeEmptyElement(QStringLiteral("dict"));
            return;
        }
        xml.writeStartElement(QStringLiteral("dict"));
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            xml.writeTextElement(QStringLiteral("key"), it.key());
            xml.writeTextElement(QStringLiteral("string"), it.value());
        }
        xml.writeEndElement();
    });
}

std::optional<QByteArray> png(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return std::nullopt;
    return out;
}

bool allStrings(const QVariantList &values)
{
    return std::all_of(values.cbegin(), values.cend(), [](const QVariant &v) {
        return v.metaType() == QMetaType::fromType<QString>();
    });
}

template <class Map> std::optional<ZUFileContent::TextMap> textMap(const Map &map)
{
    ZUFileContent::TextMap out;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.value().metaType() != QMetaType::fromType<QString>())
            return std::nullopt;
        out.insert(it.key(), it.value().toString());
    }
    return out;
}

} // namespace

std::optional<ZUFileContent> ZUFileContent::fromVariant(const QVariant &value)
{
    if (!value.isValid())
        return std::nullopt;
    const QMetaType type = value.metaType();
    if (type == QMetaType::fromType<QByteArray>())
        return ZUFileContent(value.toByteArray());
    if (type == QMetaType::fromType<QString>())
        return ZUFileContent(value.toString());
    if (type == QMetaType::fromType<QStringList>())
        return ZUFileContent(value.toStringList());
    if (type == QMetaType::fromType<QImage>())
        return ZUFileContent(value.value<QImage>());
    if (type == QMetaType::fromType<QVariantList>() && allStrings(value.toList()))
        return ZUFileContent(value.toStringList());
    if (type == QMetaType::fromType<QVariantMap>()) {
        if (auto map = textMap(value.toMap()))
            return ZUFileContent(*map);
    }
    if (type == QMetaType::fromType<QVariantHash>()) {
        if (auto map = textMap(value.toHash()))
            return ZUFileContent(*map);
    }
    return ZUFileContent(Unsupported{QString::fromLatin1(type.name())});
}

ZUFileContent::Kind ZUFileContent::kind() const
{
    return std::visit(Overloaded{
                          [](const QByteArray &) { return Kind::Bytes; },
                          [](const QString &) { return Kind::Text; },
                          [](const QStringList &) { return Kind::TextList; },
                          [](const TextMap &) { return Kind::TextMap; },
                          [](const QImage &) { return Kind::Image; },
                          [](const Unsupported &) { return Kind::Unsupported; },
                      },
                      m_value);
}

QString ZUFileContent::typeName() const
{
    return std::visit(Overloaded{
                          [](const QByteArray &) { return QStringLiteral("QByteArray"); },
                          [](const QString &) { return QStringLiteral("QString"); },
                          [](const QStringList &) { return QStringLiteral("QStringList"); },
                          [](const TextMap &) { return QStringLiteral("QMap<QString,QString>"); },
                          [](const QImage &) { return QStringLiteral("QImage"); },
                          [](const Unsupported &u) { return u.typeName; },
                      },
                      m_value);
}

std::optional<QByteArray> ZUFileContent::encoded() const
{
    return std::visit(
        Overloaded{
            [](const QByteArray &bytes) -> std::optional<QByteArray> { return bytes; },
            [](const QString &text) -> std::optional<QByteArray> { return text.toUtf8(); },
            [](const QStringList &list) -> std::optional<QByteArray> { return listPlist(list); },
            [](const TextMap &map) -> std::optional<QByteArray> { return mapPlist(map); },
            [](const QImage &image) { return png(image); },
            [](const Unsupported &) -> std::optional<QByteArray> { return std::nullopt; },
        },
        m_value);
}
