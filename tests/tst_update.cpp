#include "tests/support/scriptedhttpserver.h"
#include "update/fileversioninfo.h"
#include "update/latestversion.h"
#include "update/versionnumber.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <functional>

namespace {

template <typename T>
void Put(QByteArray& bytes, qint64 at, T value)
{
    if (bytes.size() < at + qint64(sizeof(T)))
        bytes.resize(at + sizeof(T), '\0');
    qToLittleEndian(value, bytes.data() + at);
}

// A small 64-bit little-endian ELF file laid out as a linker does: its header, the section
// name table, the version record (1.1.0.0, one translation) and, last, three section headers
// (none, the names, the record).
struct ElfImage {
    static constexpr qint64 kNamesAt = 64;
    static constexpr qint64 kRecordAt = 96;
    static constexpr qint64 kRecordSize = 60;
    static constexpr qint64 kTableAt = 160;
    static constexpr quint32 kRecordName = 11;

    QByteArray bytes;

    ElfImage()
    {
        bytes = QByteArray("\x7f"
                           "ELF\x02\x01\x01",
                           7);
        Put<quint64>(bytes, 0x28, kTableAt);
        Put<quint16>(bytes, 0x3A, 64); // section header size
        Put<quint16>(bytes, 0x3C, 3);  // section headers
        Put<quint16>(bytes, 0x3E, 1);  // the name table's
        const QByteArray names("\0.shstrtab\0.quillmoor_version", 30);
        bytes.replace(kNamesAt, names.size(), names);
        const quint32 fixed[13] = {
            CFileVersionInfo::kSignature, 0x00010000, 0x00010001, 0, 0x00010001, 0};
        for (int i = 0; i < 13; ++i)
            Put<quint32>(bytes, kRecordAt + 4 * i, fixed[i]);
        Put<quint32>(bytes, kRecordAt + 52, 4); // translation table bytes
        Put<quint16>(bytes, kRecordAt + 56, 0x0409);
        Put<quint16>(bytes, kRecordAt + 58, 1200);
        SetSection(0, 0, 0, 0);
        SetSection(1, 1, kNamesAt, names.size());
        SetSection(2, kRecordName, kRecordAt, kRecordSize);
    }

    qint64 Header(int index) const { return kTableAt + 64 * index; }

    void SetSection(int index, quint32 name, quint64 offset, quint64 size)
    {
        Put<quint32>(bytes, Header(index), name);
        Put<quint64>(bytes, Header(index) + 0x18, offset);
        Put<quint64>(bytes, Header(index) + 0x20, size);
    }
};

using Damage = std::function<void(ElfImage&)>;

// A file that counts the bytes read out of it.
class CountingFile final : public QFile {
public:
    using QFile::QFile;
    qint64 bytesRead = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 got = QFile::readData(data, maxSize);
        bytesRead += qMax<qint64>(got, 0);
        return got;
    }
};

} // namespace

Q_DECLARE_METATYPE(Damage)

// Version numbers, the program file's version record and the maker's version document.
class TestUpdate final : public QObject {
    Q_OBJECT

private slots:
    void versionToNumber_data();
    void versionToNumber();
    void latestVersion_data();
    void latestVersion();
    void unreachableServer();
    void deeplyNestedDocument_data();
    void deeplyNestedDocument();
    void versionRecord_data();
    void versionRecord();
    void everyCutOfTheFileHasNoVersion();
    void onlyTheHeadersAndTheRecordAreRead();
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

    QTest::newRow("announced")
        << QByteArray("<Versions><QuillmoorYouTube>1.1.0.1</QuillmoorYouTube></Versions>")
        << "1.1.0.1";
    QTest::newRow("UTF-8 declared")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
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
        << QByteArray(
               "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">"
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

void TestUpdate::versionRecord_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<bool>("valid");
    using E = ElfImage;
    QTest::newRow("intact") << Damage([](E&) {}) << true;
    QTest::newRow("not a program") << Damage([](E& e) { e.bytes[1] = 'e'; }) << false;
    QTest::newRow("32-bit") << Damage([](E& e) { e.bytes[4] = 1; }) << false;
    QTest::newRow("big-endian") << Damage([](E& e) { e.bytes[5] = 2; }) << false;
    QTest::newRow("wrong signature")
        << Damage([](E& e) { Put<quint32>(e.bytes, E::kRecordAt, 0xFEEF04BC); }) << false;
    QTest::newRow("no translation table")
        << Damage([](E& e) { Put<quint32>(e.bytes, E::kRecordAt + 52, 0); }) << false;
    QTest::newRow("translation table longer than the record")
        << Damage([](E& e) { Put<quint32>(e.bytes, E::kRecordAt + 52, 8); }) << false;
    QTest::newRow("record section shorter than the fixed part")
        << Damage([](E& e) { e.SetSection(2, E::kRecordName, E::kRecordAt, 55); }) << false;
    QTest::newRow("section headers start past the end")
        << Damage([](E& e) { Put<quint64>(e.bytes, 0x28, quint64(e.bytes.size()) + 1); }) << false;
    QTest::newRow("section headers run past the end")
        << Damage([](E& e) { Put<quint64>(e.bytes, 0x28, quint64(e.bytes.size()) - 64); }) << false;
    QTest::newRow("section headers at the top of the range")
        << Damage([](E& e) { Put<quint64>(e.bytes, 0x28, 0x7FFFFFFFFFFFFFF0); }) << false;
    QTest::newRow("section headers wrap round")
        << Damage([](E& e) { Put<quint64>(e.bytes, 0x28, ~quint64(63)); }) << false;
    QTest::newRow("more section headers than the file holds")
        << Damage([](E& e) { Put<quint16>(e.bytes, 0x3C, 0xFFFF); }) << true;
    QTest::newRow("name table index out of range")
        << Damage([](E& e) { Put<quint16>(e.bytes, 0x3E, 3); }) << false;
    QTest::newRow("section header size below 64")
        << Damage([](E& e) { Put<quint16>(e.bytes, 0x3A, 40); }) << false;
    QTest::newRow("name table past the end")
        << Damage([](E& e) { e.SetSection(1, 1, quint64(e.bytes.size()), 30); }) << false;
    QTest::newRow("name table runs past the end")
        << Damage([](E& e) { e.SetSection(1, 1, E::kNamesAt, quint64(e.bytes.size())); }) << false;
    QTest::newRow("record section starts past the end")
        << Damage([](E& e) { e.SetSection(2, E::kRecordName, quint64(e.bytes.size()) + 1, 60); })
        << false;
    QTest::newRow("record section runs past the end")
        << Damage([](E& e) { e.SetSection(2, E::kRecordName, E::kRecordAt, ~quint64(0) - 8); })
        << false;
    QTest::newRow("record name beyond the name table")
        << Damage([](E& e) { e.SetSection(2, 31, E::kRecordAt, E::kRecordSize); }) << false;
    QTest::newRow("record name cut short by the end of the name table")
        << Damage([](E& e) { e.SetSection(1, 1, E::kNamesAt, 29); }) << false;
    QTest::newRow("the record under another name")
        << Damage([](E& e) { e.SetSection(2, 1, E::kRecordAt, E::kRecordSize); }) << false;
}

// A damaged program file gives a clean "no version": false, with everything reset.
void TestUpdate::versionRecord()
{
    QFETCH(Damage, damage);
    QFETCH(bool, valid);
    ElfImage image;
    damage(image);
    QTemporaryDir dir;
    QFile file(dir.filePath("program"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image.bytes);
    file.close();

    CFileVersionInfo info;
    QCOMPARE(info.Create(file.fileName()), valid);
    QCOMPARE(info.IsValid(), valid);
    QCOMPARE(info.GetFixedFileInfo().dwSignature, valid ? CFileVersionInfo::kSignature : 0u);
    QCOMPARE(info.GetFixedFileInfo().dwFileVersionMS, valid ? 0x00010001u : 0u);
    QCOMPARE(info.GetTranslationCount(), valid ? 1 : 0);
}

void TestUpdate::everyCutOfTheFileHasNoVersion()
{
    const QByteArray whole = ElfImage().bytes;
    CFileVersionInfo info;
    for (qsizetype size = 0; size < whole.size(); ++size) {
        QByteArray cut = whole.first(size);
        QBuffer device(&cut);
        QVERIFY(device.open(QIODevice::ReadOnly));
        QVERIFY2(!info.Create(device), qPrintable(QString::number(size)));
        QCOMPARE(info.GetFixedFileInfo().dwSignature, 0u);
    }
    QByteArray copy = whole;
    QBuffer device(&copy);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QVERIFY(info.Create(device));
}

// The record at the start, the section headers at the end of a 1 GiB file whose middle is a
// hole: the version is found without reading the middle.
void TestUpdate::onlyTheHeadersAndTheRecordAreRead()
{
    constexpr qint64 kTableAt = qint64(1) << 30;
    ElfImage image;
    const QByteArray table = image.bytes.sliced(ElfImage::kTableAt);
    Put<quint64>(image.bytes, 0x28, kTableAt);
    QTemporaryDir dir;
    QFile write(dir.filePath("program"));
    QVERIFY(write.open(QIODevice::WriteOnly));
    QCOMPARE(write.write(image.bytes.first(ElfImage::kTableAt)), ElfImage::kTableAt);
    QVERIFY(write.seek(kTableAt));
    QCOMPARE(write.write(table), table.size());
    write.close();

    // Unbuffered, as the program opens its own file: every byte read is counted once.
    CountingFile file(write.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QCOMPARE(file.size(), kTableAt + table.size());
    CFileVersionInfo info;
    QVERIFY(info.Create(file));
    QCOMPARE(info.GetFixedFileInfo().dwFileVersionMS, 0x00010001u);
    QVERIFY2(file.bytesRead < 4096, qPrintable(QString::number(file.bytesRead)));
}

void TestUpdate::deeplyNestedDocument_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("version");

    QTest::newRow("the version beside ordinary nesting") << 32 << "1.1.0.1";
    // As much as the text client takes in: the DOM took minutes on it, then overflowed the
    // stack freeing it.
    QTest::newRow("a megabyte of nesting gives no version") << (1 << 20) / 7 << "";
}

void TestUpdate::deeplyNestedDocument()
{
    QFETCH(int, depth);
    QFETCH(QString, version);
    const QString document = QStringLiteral("<r><QuillmoorYouTube>1.1.0.1</QuillmoorYouTube>") +
                             QStringLiteral("<a>").repeated(depth) +
                             QStringLiteral("</a>").repeated(depth) + QStringLiteral("</r>");
    QCOMPARE(VersionInDocument(document), version);
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
