#include "tests/support/scriptedhttpserver.h"
#include "update/latestversion.h"
#include "update/versionnumber.h"

#include <QElapsedTimer>
#include <QTest>

class TestUpdate final : public QObject {
    Q_OBJECT

private slots:
    void versionToNumber_data();
    void versionToNumber();
    void latestVersion_data();
    void latestVersion();
    void unreachableServer();
};

void TestUpdate::versionToNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");

    QTest::newRow("four parts") << "1.1.0.1" << 1101;
    QTest::newRow("the program's own") << "1.1.0.0" << 1100;
    QTest::newRow("lower") << "1.0.9.9" << 1099;
    QTest::newRow("two parts") << "1.1" << 1100;
    QTest::newRow("ten carries") << "1.10.0.0" << 2000;
    QTest::newRow("ten in the third place") << "1.0.10.0" << 1100;
    QTest::newRow("commas") << "1,2,0,0" << 1200;
    QTest::newRow("leading separator") << ".1.2" << 0;
    QTest::newRow("adjacent separators") << "1..2" << 1020;
    QTest::newRow("a fifth part is ignored") << "1.2.3.4.5" << 1234;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("blanks and signs") << " 1. +2.-1" << 1190;
    QTest::newRow("not numeric") << "latest" << 0;
}

void TestUpdate::versionToNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(VersionToNumber(text), number);
}

void TestUpdate::latestVersion_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("version");

    QTest::newRow("announced") << QByteArray("<Versions><QuillmoorYouTube>1.1.0.1</QuillmoorYouTube></Versions>")
                               << "1.1.0.1";
    QTest::newRow("UTF-8 declared") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                                  "<r><x>\xc3\xa9</x><QuillmoorYouTube>1.2</QuillmoorYouTube></r>")
                                    << "1.2";
    QTest::newRow("root is the version element")
        << QByteArray("<QuillmoorYouTube>9.9.9.9</QuillmoorYouTube>") << "";
    QTest::newRow("deeper than under the root")
        << QByteArray("<r><p><QuillmoorYouTube>9.9</QuillmoorYouTube></p></r>") << "";
    QTest::newRow("an HTML error page") << QByteArray("<html><body><p>oops</body></html>") << "";
    QTest::newRow("not numeric") << QByteArray("<r><QuillmoorYouTube>soon</QuillmoorYouTube></r>")
                                 << "soon";
    QTest::newRow("entity expansion bomb")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">"
                      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                      "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
                      "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>"
                      "<r><x>&i;</x><QuillmoorYouTube>1.1.0.1</QuillmoorYouTube></r>")
        << "";
}

void TestUpdate::latestVersion()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, version);
    CScriptedHttpServer maker;
    maker.Route("/quillmoor_version.xml", CScriptedHttpServer::Status(200, "OK", document));
    qputenv("QUILLMOOR_MAKER_HOST", maker.HostAndPort().toLatin1());
    QString text = QStringLiteral("stale");
    QVERIFY(GetLatestVersion(text));
    QCOMPARE(text, version);
    QVERIFY(maker.Requests().value(0).startsWith("GET /quillmoor_version.xml HTTP/1.1\r\n"));
}

void TestUpdate::unreachableServer()
{
    const quint16 closed = CScriptedHttpServer().Port();
    qputenv("QUILLMOOR_MAKER_HOST", QByteArray("127.0.0.1:") + QByteArray::number(closed));
    QString text = QStringLiteral("stale");
    QVERIFY(!GetLatestVersion(text));
    QVERIFY(text.isEmpty());
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
