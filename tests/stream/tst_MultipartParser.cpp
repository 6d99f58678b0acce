#include <QTest>
class tst_MultipartParser : public QObject { Q_OBJECT private Q_SLOTS: void placeholder() { QVERIFY(true); } };
QTEST_GUILESS_MAIN(tst_MultipartParser)
#include "tst_MultipartParser.moc"
