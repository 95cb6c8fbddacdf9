#include "engine/converter.h"
#include "engine/outputformat.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The converter's contract: the preset of every format and when the converter counts as present.
class TestConverter final : public QObject {
    Q_OBJECT

private slots:
    void presetOfEveryFormat_data();
    void presetOfEveryFormat();
    void presence_data();
    void presence();
};

void TestConverter::presetOfEveryFormat_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("options");

    const QByteArray xvid = "-vcodec xvid -qscale 7 -s 320x240 -b 200 -ar 22050 -ab 64 -ac 2";
    QTest::newRow("iPod") << int(OutputFormat::IPod)
                          << QByteArray("-s 320x240 -qscale 7 -r 24 -b 500 -ar 22050 -ab 64 -ac 2");
    QTest::newRow("iPhone") << int(OutputFormat::IPhone)
                            << QByteArray("-vcodec mpeg4 -qscale 7 -s 480x320 -r 29 -b 900 -ar "
                                          "44100 -ab 128 -ac 2");
    QTest::newRow("PSP") << int(OutputFormat::Psp)
                         << QByteArray("-f psp -s 320x240 -qscale 7 -r 29 -b 500 -ar 24000 -ab 64 "
                                       "-ac 2");
    QTest::newRow("cell phone") << int(OutputFormat::CellPhone)
                                << QByteArray("-vcodec h263 -qscale 7 -s 176x144 -r 15 -b 30k -ar "
                                              "8000 -ab 12.2k -ac 1");
    QTest::newRow("Windows Media")
        << int(OutputFormat::WindowsMedia)
        << QByteArray("-s 320x240 -qscale 7 -b 50 -ar 22050 -ab 64 -ac 2");
    QTest::newRow("Xvid") << int(OutputFormat::Xvid) << xvid;
    QTest::newRow("MP3") << int(OutputFormat::Mp3) << QByteArray("-ar 48000 -ab 192 -ac 2");
    QTest::newRow("FLV falls back to Xvid") << int(OutputFormat::Flv) << xvid;
    QTest::newRow("8 falls back to Xvid") << 8 << xvid;
    QTest::newRow("-1 falls back to Xvid") << -1 << xvid;
}

void TestConverter::presetOfEveryFormat()
{
    QFETCH(int, format);
    QFETCH(QByteArray, options);
    QCOMPARE(QByteArray(Converter::PresetTemplate(format)),
             "ffmpeg -i \"%s\" -y " + options + " \"%s\"");
}

void TestConverter::presence_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("present");

    QTest::newRow("nothing there") << "none" << false;
#ifdef Q_OS_WIN
    QTest::newRow("every file") << "file" << true;
#else
    // A converter that cannot be run would fail every conversion unnoticed.
    QTest::newRow("a file that cannot be run") << "file" << false;
    QTest::newRow("a program file") << "program" << true;
    QTest::newRow("a link to a program file") << "link" << true;
    QTest::newRow("a folder of that name") << "folder" << false;
#endif
}

void TestConverter::presence()
{
    QFETCH(QString, kind);
    QFETCH(bool, present);

    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QStringList files = Converter::RequiredFiles();
    QCOMPARE(files.constFirst(), Converter::ExecutableName());
    for (const QString& name : files) {
        const QString path = folder.filePath(name);
        if (kind == "folder") {
            QVERIFY(QDir(folder.path()).mkdir(name));
        } else if (kind != "none") {
            const QString real = kind == "link" ? elsewhere.filePath(name) : path;
            QFile file(real);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (kind != "file")
                QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
            if (kind == "link")
                QVERIFY(QFile::link(real, path));
        }
    }
    QCOMPARE(Converter::IsPresent(folder.path()), present);
}

QTEST_APPLESS_MAIN(TestConverter)
#include "tst_converter.moc"
