#include "controls/shelllayer.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/scriptedhttpserver.h"
#include "update/fileversioninfo.h"
#include "update/updategate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kProgram[] = QUILLMOOR_BUILD_DIR "/app/quillmoor";

QByteArray VersionDocument(const QByteArray& version)
{
    return "<?xml version=\"1.0\"?><Norvane><QuillmoorYouTube>" + version +
           "</QuillmoorYouTube></Norvane>";
}

} // namespace

class TestUpdateGate final : public QObject {
    Q_OBJECT

private slots:
    void versionRecordOfAProgramFile_data();
    void versionRecordOfAProgramFile();
    void gate_data();
    void gate();
};

void TestUpdateGate::versionRecordOfAProgramFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");
    QTest::newRow("the program") << QString::fromLatin1(kProgram) << true;
    QTest::newRow("a program without the record") << QCoreApplication::applicationFilePath() << false;
    QTest::newRow("not a program") << QStringLiteral(QUILLMOOR_SOURCE_DIR "/README.md") << false;
    QTest::newRow("no file") << QStringLiteral("/no/such/file") << false;
    QTest::newRow("no path") << QString() << false;
}

void TestUpdateGate::versionRecordOfAProgramFile()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    CFileVersionInfo info;
    QCOMPARE(info.Create(path), valid);
    QCOMPARE(info.IsValid(), valid);
    if (valid) {
        QCOMPARE(info.GetFixedFileInfo().dwFileVersionMS, 0x00010001u); // 1.1
        QCOMPARE(info.GetFixedFileInfo().dwFileVersionLS, 0x00000000u); // .0.0
        QCOMPARE(info.GetTranslationCount(), 1);
    } else {
        QCOMPARE(info.GetFixedFileInfo().dwSignature, 0u);
    }
    // This test program carries no record: its version is empty.
    QCOMPARE(GetModuleVersionString(), QString());

    // A program file cut short loses its record.
    QTemporaryDir dir;
    QFile whole(QString::fromLatin1(kProgram));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile cut(dir.filePath("cut"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(whole.read(4096));
    cut.close();
    QVERIFY(!info.Create(cut.fileName()));
}

void TestUpdateGate::gate_data()
{
    QTest::addColumn<QString>("own");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("goesOn");

    const QByteArray newer = VersionDocument("1.1.0.1");
    QTest::newRow("newer, Yes: download page, no window") << "1.1.0.0" << newer << true << true << false;
    QTest::newRow("newer, No: start-up goes on") << "1.1.0.0" << newer << false << true << true;
    QTest::newRow("the same") << "1.1.0.0" << VersionDocument("1.1.0.0") << true << false << true;
    QTest::newRow("lower") << "1.1.0.0" << VersionDocument("1.0.9.9") << true << false << true;
    QTest::newRow("two parts, the same") << "1.1.0.0" << VersionDocument("1.1") << true << false << true;
    QTest::newRow("malformed document") << "1.1.0.0" << QByteArray("<html><p>oops") << true << false << true;
    QTest::newRow("own version unreadable: anything is newer")
        << "" << VersionDocument("0.0.0.1") << false << true << true;
    QTest::newRow("no server") << "1.1.0.0" << QByteArray() << true << false << true;
}

void TestUpdateGate::gate()
{
    QFETCH(QString, own);
    QFETCH(QByteArray, document);
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    QFETCH(bool, goesOn);

    CScriptedHttpServer maker;
    if (document.isNull()) {
        const quint16 closed = CScriptedHttpServer().Port();
        qputenv("QUILLMOOR_MAKER_HOST", "127.0.0.1:" + QByteArray::number(closed));
    } else {
        maker.Route("/quillmoor_version.xml", CScriptedHttpServer::Status(200, "OK", document));
        qputenv("QUILLMOOR_MAKER_HOST", maker.HostAndPort().toLatin1());
    }
    QStringList opened;
    CShellLayer::SetHandler([&opened](const QString& target) {
        opened << target;
        return 0;
    });
    CMessageBoxAnswer answer(yes ? QMessageBox::Yes : QMessageBox::No);
    QCOMPARE(RunUpdateGate(own), goesOn);
    QCOMPARE(answer.texts.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(answer.texts.constFirst(),
                 QStringLiteral("New update is available. Do you want to go to Norvane and download "
                                "the latest version now?"));
    QCOMPARE(opened, goesOn ? QStringList{} : QStringList{maker.Url("/download")});
    CShellLayer::SetHandler({});
}

QTEST_MAIN(TestUpdateGate)
#include "tst_updategate.moc"
