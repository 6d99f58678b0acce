#include "util/ZUFileContent.h"

#include <QDateTime>
#include <QTest>
#include <QXmlStreamReader>

namespace
{

// Reads a property list back: the root element's name and its strings (for
// a dictionary, key and value alternate).
struct PropertyList {
    QString root;
    QStringList strings;
    QString doctype;
};

PropertyList parse(const QByteArray &xml)
{
    PropertyList out;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD)
            out.doctype = reader.dtdName().toString();
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == u"string" || reader.name() == u"key")
            out.strings << reader.readElementText();
        else if (reader.name() != u"plist" && out.root.isEmpty())
            out.root = reader.name().toString();
    }
    if (reader.hasError())
        out.root = QStringLiteral("<error: %1>").arg(reader.errorString());
    return out;
}

} // namespace

class tst_ZUFileContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textIsUtf8WithoutMark()
    {
        const auto bytes = ZUFileContent(QStringLiteral("é")).encoded();
        QCOMPARE(bytes, QByteArray("\xc3\xa9"));
    }

    void listAndMapArePropertyLists()
    {
        const QStringList list{QStringLiteral("a<b"), QStringLiteral("星"), QString()};
        const auto listXml = ZUFileContent(list).encoded();
        QVERIFY(listXml);
        QVERIFY(listXml->startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        auto plist = parse(*listXml);
        QCOMPARE(plist.doctype, QStringLiteral("plist"));
        QCOMPARE(plist.root, QStringLiteral("array"));
        QCOMPARE(plist.strings, list);

        const ZUFileContent::TextMap map{{QStringLiteral("getFilePath"), QStringLiteral("/data/N")},
                                         {QStringLiteral("b&"), QStringLiteral("2")}};
        plist = parse(*ZUFileContent(map).encoded());
        QCOMPARE(plist.root, QStringLiteral("dict"));
        QCOMPARE(plist.strings,
                 (QStringList{QStringLiteral("b&"), QStringLiteral("2"),
                              QStringLiteral("getFilePath"), QStringLiteral("/data/N")}));

        QCOMPARE(parse(*ZUFileContent(QStringList()).encoded()).root, QStringLiteral("array"));
        QCOMPARE(parse(*ZUFileContent(ZUFileContent::TextMap()).encoded()).root,
                 QStringLiteral("dict"));
    }

    void imageIsPngAndNullImageFails()
    {
        QImage image(2, 2, QImage::Format_ARGB32);
        image.fill(qRgba(1, 2, 3, 128));
        const auto png = ZUFileContent(image).encoded();
        QVERIFY(png);
        QCOMPARE(QImage::fromData(*png, "png").convertToFormat(QImage::Format_ARGB32), image);
        QVERIFY(!ZUFileContent(QImage()).encoded());
    }

    void fromVariant()
    {
        QVERIFY(!ZUFileContent::fromVariant(QVariant()));
        QCOMPARE(ZUFileContent::fromVariant(QByteArray("x"))->kind(), ZUFileContent::Kind::Bytes);
        QCOMPARE(ZUFileContent::fromVariant(QStringLiteral("x"))->kind(),
                 ZUFileContent::Kind::Text);
        QCOMPARE(ZUFileContent::fromVariant(QVariantList{QStringLiteral("a")})->kind(),
                 ZUFileContent::Kind::TextList);
        QCOMPARE(ZUFileContent::fromVariant(QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}})
                     ->kind(),
                 ZUFileContent::Kind::TextMap);
        QCOMPARE(ZUFileContent::fromVariant(QVariant::fromValue(QImage(1, 1, QImage::Format_RGB32)))
                     ->kind(),
                 ZUFileContent::Kind::Image);

        // What has no file form keeps its type name for the error.
        const auto date = ZUFileContent::fromVariant(QDateTime::currentDateTime());
        QCOMPARE(date->kind(), ZUFileContent::Kind::Unsupported);
        QCOMPARE(date->typeName(), QStringLiteral("QDateTime"));
        QVERIFY(!date->encoded());
        const auto mixed = ZUFileContent::fromVariant(QVariantList{QStringLiteral("a"), 1});
        QCOMPARE(mixed->kind(), ZUFileContent::Kind::Unsupported);
        QCOMPARE(mixed->typeName(), QStringLiteral("QVariantList"));
        QCOMPARE(ZUFileContent::fromVariant(42)->typeName(), QStringLiteral("int"));
    }
};

QTEST_GUILESS_MAIN(tst_ZUFileContent)
#include "tst_ZUFileContent.moc"
