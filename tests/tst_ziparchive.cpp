#include "zip/ziparchive.h"
#include "zip/zipexception.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray Payload()
{
    QByteArray bytes;
    for (int r = 0; r < 300; ++r)
        for (int i = 0; i < 256; ++i)
            bytes += char(i);
    return bytes + "end";
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below folder, relative to it, sorted.
QStringList FilesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool Run(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

// The ZIP reader on archives from several zippers, and on hostile or broken ones.
class TestZipArchive final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void extractsArchivesOfEveryZipper_data();
    void extractsArchivesOfEveryZipper();
    void refusesHostileOrBrokenArchives_data();
    void refusesHostileOrBrokenArchives();
    void refusesOnOpening_data();
    void refusesOnOpening();
    void capsTheArchiveNotOnlyEachEntry_data();
    void capsTheArchiveNotOnlyEachEntry();
    void keepsOnlyTheExecuteBit();
    void failedExtractionKeepsTheOldFile();

private:
    QTemporaryDir m_fixtures;
    QTemporaryDir m_work;
};

void TestZipArchive::initTestCase()
{
    const QString fixtures = m_fixtures.path();
    QVERIFY(Run(QStringLiteral("python3"),
                {QStringLiteral(QUILLMOOR_SOURCE_DIR "/tests/fixtures/make_zips.py"), fixtures},
                fixtures));
    // The same files packed by Info-ZIP zip and by 7-Zip, with a folder inside.
    QDir(fixtures).mkpath(QStringLiteral("src/bin"));
    QFile payload(fixtures + QStringLiteral("/src/bin/ffmpeg"));
    QVERIFY(payload.open(QIODevice::WriteOnly));
    payload.write(Payload());
    payload.close();
    payload.setPermissions(payload.permissions() | QFileDevice::ExeOwner);
    QFile readme(fixtures + QStringLiteral("/src/readme.txt"));
    QVERIFY(readme.open(QIODevice::WriteOnly));
    readme.write("hello");
    readme.close();
    const QString src = fixtures + QStringLiteral("/src");
    QVERIFY(Run(QStringLiteral("zip"), {"-r", "-q", fixtures + "/infozip.zip", "bin", "readme.txt"},
                src));
    QVERIFY(Run(QStringLiteral("zip"), {"-r", "-q", "-0", fixtures + "/infozip-stored.zip", "bin"},
                src));
    if (!Run(QStringLiteral("7zz"),
             {"a", "-tzip", "-bd", "-bso0", fixtures + "/7zip.zip", "bin", "readme.txt"}, src))
        qWarning("7-Zip (7zz) is not installed; its archive is left out");
}

void TestZipArchive::extractsArchivesOfEveryZipper_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QStringList>("files");

    const QStringList both{"ffmpeg", "readme.txt"};
    QTest::newRow("Info-ZIP, deflated, with folders") << "infozip.zip" << both;
    QTest::newRow("Info-ZIP, stored") << "infozip-stored.zip" << QStringList{"ffmpeg"};
    QTest::newRow("7-Zip") << "7zip.zip" << both;
    QTest::newRow("Python") << "python.zip" << both;
    QTest::newRow("Python, stored") << "python-stored.zip" << QStringList{"ffmpeg"};
    QTest::newRow("Python, streamed with data descriptors") << "python-streamed.zip" << both;
    QTest::newRow("no entries") << "empty.zip" << QStringList{};
}

void TestZipArchive::extractsArchivesOfEveryZipper()
{
    QFETCH(QString, archive);
    QFETCH(QStringList, files);
    const QString path = m_fixtures.filePath(archive);
    if (!QFile::exists(path))
        QSKIP("this zipper is not installed");

    QTemporaryDir target;
    CZipArchive zip;
    zip.Open(path);
    for (int i = 0; i < zip.GetCount(); ++i)
        zip.ExtractFile(i, target.path());
    zip.Close();
    QCOMPARE(FilesBelow(target.path()), files);
    if (files.contains("ffmpeg"))
        QCOMPARE(Read(target.filePath("ffmpeg")), Payload());
}

void TestZipArchive::refusesHostileOrBrokenArchives_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("description");

    QTest::newRow("not a zip file: an error page") << "not-a-zip.zip"
                                                   << "Damaged or not a zip file";
    QTest::newRow("truncated") << "truncated.zip"
                               << "Damaged or not a zip file";
    QTest::newRow("checksum broken") << "bad-crc.zip"
                                     << "Crc mismatched";
    QTest::newRow("name made of ..") << "dotdot.zip"
                                     << "Unsafe file name in zip file";
    QTest::newRow("inflates past its declared size") << "bomb.zip"
                                                     << "Damaged or not a zip file";
    QTest::newRow("encrypted") << "encrypted.zip"
                               << "Encrypted entries are not supported";
    QTest::newRow("bzip2") << "bzip2.zip"
                           << "Unsupported compression method";
    QTest::newRow("ZIP64") << "zip64.zip"
                           << "ZIP64 archives are not supported";
    QTest::newRow("missing file") << "no-such.zip"
                                  << "";
    QTest::newRow("four names share one deflated stream")
        << "overlap.zip"
        << "Entries ffmpeg and ffprobe overlap in zip file";
    QTest::newRow("each stream quotes the next entry's header")
        << "overlap-quoted.zip"
        << "Entries ffmpeg and ffprobe overlap in zip file";
}

void TestZipArchive::refusesHostileOrBrokenArchives()
{
    QFETCH(QString, archive);
    QFETCH(QString, description);

    QTemporaryDir parent;
    const QString target = parent.filePath(QStringLiteral("program"));
    QDir().mkpath(target);
    QString error;
    try {
        CZipArchive zip;
        zip.Open(m_fixtures.filePath(archive));
        for (int i = 0; i < zip.GetCount(); ++i)
            zip.ExtractFile(i, target);
    } catch (const CZipException& e) {
        error = e.Description();
    }
    if (description.isEmpty())
        QVERIFY2(error.startsWith("Cannot open"), qPrintable(error));
    else
        QCOMPARE(error, description);
    // Nothing was written, inside the target folder or beside it.
    QCOMPARE(FilesBelow(parent.path()), QStringList{});
}

// Archives that must be judged from their directory alone: unpacking them would write GiBs.
void TestZipArchive::refusesOnOpening_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("description");

    QTest::newRow("two 512 MiB entries: 1 GiB in all opens") << "one-gib.zip"
                                                             << "";
    QTest::newRow("1 GiB and one byte")
        << "one-gib-and-a-byte.zip"
        << "Zip file unpacks to 1073741825 bytes, more than the 1073741824 allowed";
    QTest::newRow("four names on one 512 MiB stream: 2 GiB from 521 KB")
        << "overlap-2gib.zip"
        << "Entries ffmpeg and ffprobe overlap in zip file";
}

void TestZipArchive::refusesOnOpening()
{
    QFETCH(QString, archive);
    QFETCH(QString, description);

    QString error;
    CZipArchive zip;
    try {
        zip.Open(m_fixtures.filePath(archive));
    } catch (const CZipException& e) {
        error = e.Description();
    }
    QCOMPARE(error, description);
    QCOMPARE(zip.GetCount(), description.isEmpty() ? 2 : 0);
}

void TestZipArchive::capsTheArchiveNotOnlyEachEntry_data()
{
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<QString>("description");

    const qint64 all = 3 * Payload().size();
    QTest::newRow("three payloads under a cap of exactly three") << all << "";
    QTest::newRow("three payloads, one byte over the cap")
        << all - 1
        << QStringLiteral("Zip file unpacks to %1 bytes, more than the %2 allowed")
               .arg(all)
               .arg(all - 1);
}

// Three entries, each far below its own cap, against the archive's cap lowered to their sum.
void TestZipArchive::capsTheArchiveNotOnlyEachEntry()
{
    QFETCH(qint64, cap);
    QFETCH(QString, description);

    QTemporaryDir target;
    QString error;
    try {
        CZipArchive zip(cap);
        zip.Open(m_fixtures.filePath("python-three.zip"));
        for (int i = 0; i < zip.GetCount(); ++i)
            zip.ExtractFile(i, target.path());
    } catch (const CZipException& e) {
        error = e.Description();
    }
    QCOMPARE(error, description);
    const QStringList all{"ffmpeg", "ffplay", "ffprobe"};
    QCOMPARE(FilesBelow(target.path()), description.isEmpty() ? all : QStringList());
}

void TestZipArchive::keepsOnlyTheExecuteBit()
{
    QTemporaryDir target;
    CZipArchive zip;
    zip.Open(m_fixtures.filePath("modes.zip"));
    for (int i = 0; i < zip.GetCount(); ++i)
        zip.ExtractFile(i, target.path());
    QVERIFY(QFileInfo(target.filePath("ffmpeg")).isExecutable());
    QVERIFY(!QFileInfo(target.filePath("plain.txt")).isExecutable());
    struct stat setuid {};
    QCOMPARE(::stat(QFile::encodeName(target.filePath("setuid-tool")).constData(), &setuid), 0);
    QVERIFY(setuid.st_mode & S_IXUSR);
    QVERIFY(!(setuid.st_mode & (S_ISUID | S_ISGID)));

    // A traversal name lands, bare, inside the target folder.
    QTemporaryDir inside;
    CZipArchive traversal;
    traversal.Open(m_fixtures.filePath("traversal.zip"));
    traversal.ExtractFile(0, inside.path());
    QCOMPARE(FilesBelow(inside.path()), QStringList{"evil"});
}

void TestZipArchive::failedExtractionKeepsTheOldFile()
{
    QTemporaryDir target;
    QFile old(target.filePath("ffmpeg"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("working converter");
    old.close();
    CZipArchive zip;
    zip.Open(m_fixtures.filePath("bad-crc.zip"));
    QVERIFY_THROWS_EXCEPTION(CZipException, zip.ExtractFile(0, target.path()));
    QCOMPARE(Read(target.filePath("ffmpeg")), QByteArray("working converter"));
    QCOMPARE(FilesBelow(target.path()), QStringList{"ffmpeg"});

    // A good archive replaces it.
    zip.Open(m_fixtures.filePath("python-stored.zip"));
    QVERIFY(zip.ExtractFile(0, target.path()));
    QCOMPARE(Read(target.filePath("ffmpeg")), Payload());
}

QTEST_GUILESS_MAIN(TestZipArchive)
#include "tst_ziparchive.moc"
