#include "downloadlist/downloadliststore.h"
#include "res/stringtable.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <limits>
#include <memory>

Q_DECLARE_METATYPE(CDownloadRecord)

// Readable failures for QCOMPARE on records and lists of them.
char* toString(const CDownloadRecord& r)
{
    const auto number = [](const auto& value) {
        return value ? QString::number(*value) : QStringLiteral("-");
    };
    return qstrdup(QStringLiteral("{%1|%2|%3|%4|%5|%6|%7|%8|%9}")
                       .arg(r.name, r.path, r.url)
                       .arg(r.format)
                       .arg(r.status)
                       .arg(number(r.percent), number(r.total), number(r.received), r.reason)
                       .toUtf8()
                       .constData());
}

namespace {

using Records = QList<CDownloadRecord>;

const QString kFile = QStringLiteral("downloads.json");

CDownloadRecord Finished(const QString& name = QStringLiteral("clip.mp3"))
{
    return CDownloadRecord{.name = name,
                           .path = QStringLiteral("/home/ann/Videos/") + name,
                           .url = QStringLiteral("http://127.0.0.1:8080/get_video?video_id=a1"),
                           .format = 7,
                           .status = IDS_CONVERSION_COMPLETED,
                           .percent = 100,
                           .total = 1048576,
                           .received = 1048576};
}

CDownloadRecord Failed()
{
    return CDownloadRecord{.name = QStringLiteral("clip.flv"),
                           .path = QStringLiteral("/home/ann/Videos/clip.flv"),
                           .url = QStringLiteral("http://127.0.0.1:8080/get_video?video_id=b2"),
                           .format = 0,
                           .status = IDS_FAILED,
                           .percent = 37,
                           .total = 4000,
                           .received = 1480,
                           .reason = QStringLiteral("HTTP status 503 from http://127.0.0.1:8080/")};
}

// The text of a kept list with rows as given, for files written by hand.
QByteArray ListFile(const QByteArray& rows, const QByteArray& version = "1")
{
    return "{\"format\": \"quillmoor-download-list\", \"version\": " + version +
           ", \"rows\": " + rows + "}";
}

// One hand-written row, with a field replaced or dropped ("path": null drops "path").
QByteArray Row(const QByteArray& replace = {})
{
    QJsonObject row{{"name", "clip.mp3"},
                    {"path", "/home/ann/Videos/clip.mp3"},
                    {"url", "http://127.0.0.1:8080/v"},
                    {"format", 7},
                    {"status", 119}};
    const QJsonObject changes = QJsonDocument::fromJson("{" + replace + "}").object();
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it->isNull())
            row.remove(it.key());
        else
            row.insert(it.key(), *it);
    }
    return QJsonDocument(row).toJson(QJsonDocument::Compact);
}

QByteArray Sha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

void WriteFile(const QString& path, const QByteArray& bytes, qint64 spaces = 0)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
    const QByteArray block(1 << 20, ' ');
    for (qint64 left = spaces; left > 0; left -= block.size())
        QVERIFY(file.write(block.constData(), std::min<qint64>(left, block.size())) > 0);
}

// Restores an environment variable on destruction.
class EnvironmentGuard final {
public:
    explicit EnvironmentGuard(const char* name)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name))
    {
    }
    ~EnvironmentGuard()
    {
        if (m_had)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }
    Q_DISABLE_COPY_MOVE(EnvironmentGuard)

private:
    const char* m_name;
    bool m_had;
    QByteArray m_value;
};

// Lets the process write files of at most limit bytes while it lives, as a full disk would.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_before);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = m_before;
        lower.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
};

enum class SaveTrouble {
    UnderARegularFile,
    PathIsAFolder,
    UnderProc,
    RunningRow,
    DiskFull,
    DiskFullPastTheBuffer,
};

} // namespace

Q_DECLARE_METATYPE(SaveTrouble)

// The file that keeps the finished rows between runs: what goes in comes back, and a damaged
// or foreign file is never lost nor half read.
class TestDownloadListStore final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultPathIsInTheUsersDataFolder();
    void roundTrip_data();
    void roundTrip();
    void byteCountsAreExactInTheFile();
    void handWrittenFiles_data();
    void handWrittenFiles();
    void missingFileIsAnEmptyList();
    void damagedFile_data();
    void damagedFile();
    void setAsideNeverReplacesAnEarlierOne();
    void saveCreatesTheFolder();
    void saveFails_data();
    void saveFails();

private:
    QString Path(const QString& name = kFile) const { return m_dir->filePath(name); }
    // The names in the test's folder, sorted.
    QStringList Entries() const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

QStringList TestDownloadListStore::Entries() const
{
    return QDir(m_dir->path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void TestDownloadListStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestDownloadListStore::cleanup()
{
    m_dir.reset();
}

void TestDownloadListStore::defaultPathIsInTheUsersDataFolder()
{
    EnvironmentGuard data("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path()));
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillmoor"));
    QCOMPARE(CDownloadListStore::DefaultPath(),
             m_dir->path() + "/Local AppWizard-Generated Applications/Quillmoor/downloads.json");
    // The default store saves there, creating the folders.
    CDownloadListStore store;
    QVERIFY(store.Save({Finished()}));
    QCOMPARE(CDownloadListStore(CDownloadListStore::DefaultPath()).Load(), Records{Finished()});
}

void TestDownloadListStore::roundTrip_data()
{
    QTest::addColumn<Records>("records");
    CDownloadRecord bare = Finished();
    bare.percent.reset();
    bare.total.reset();
    bare.received.reset();
    CDownloadRecord quoted = Failed();
    quoted.name = QStringLiteral("Ünïcødé \"quoted\" 'clip' \\ 日本語 😀.flv");
    quoted.path = QStringLiteral("/home/ann/Vidéos/") + quoted.name;
    quoted.reason = QStringLiteral("Cannot write \"%1\": No space left on device").arg(quoted.path);
    CDownloadRecord huge = Finished(QStringLiteral("huge.flv"));
    huge.total = quint64(1) << 40;
    huge.received = (quint64(1) << 40) - 1;
    huge.percent = 99;
    CDownloadRecord largest = Failed();
    largest.total = std::numeric_limits<quint64>::max();
    largest.received = (quint64(1) << 53) + 1;
    CDownloadRecord pastLength = Failed();
    pastLength.percent = 103;
    pastLength.total.reset();
    pastLength.reason.clear();
    CDownloadRecord plainFlv = Finished(QStringLiteral("plain.flv"));
    plainFlv.format = 0;
    plainFlv.status = IDS_COMPLETED;
    plainFlv.percent = 0;
    plainFlv.total = 0;
    plainFlv.received = 0;

    QTest::newRow("nothing kept") << Records{};
    QTest::newRow("a finished conversion, every figure") << Records{Finished()};
    QTest::newRow("a failed download with its reason") << Records{Failed()};
    CDownloadRecord paused = Failed();
    paused.status = IDS_PAUSED;
    paused.reason.clear();
    QTest::newRow("a paused download, to be resumed") << Records{paused};
    QTest::newRow("no percent, size or bytes") << Records{bare};
    QTest::newRow("non-ASCII, quotes and backslash in name, path and reason") << Records{quoted};
    QTest::newRow("a 2^40-byte total") << Records{huge};
    QTest::newRow("the largest 64-bit total, received just past 2^53") << Records{largest};
    QTest::newRow("a conversion that ran past its length: 103%") << Records{pastLength};
    QTest::newRow("zero figures on a kept FLV") << Records{plainFlv};
    QTest::newRow("several rows keep their order")
        << Records{Failed(), Finished(QStringLiteral("b.mp3")), bare, Finished()};
}

void TestDownloadListStore::roundTrip()
{
    QFETCH(Records, records);
    CDownloadListStore store(Path());
    // A first list is replaced whole by the second.
    QVERIFY(store.Save({Failed(), Failed()}));
    QString error;
    QVERIFY2(store.Save(records, &error), qPrintable(error));
    QString problem = QStringLiteral("untouched");
    QCOMPARE(CDownloadListStore(Path()).Load(&problem), records);
    QCOMPARE(problem, QString());
    // Nothing but the file: no temporary file stays behind.
    QCOMPARE(Entries(), QStringList{kFile});
}

// Byte counts are decimal strings: a JSON number would round anything above 2^53.
void TestDownloadListStore::byteCountsAreExactInTheFile()
{
    CDownloadRecord record = Finished();
    record.total = std::numeric_limits<quint64>::max();
    record.received = (quint64(1) << 53) + 1;
    QVERIFY(CDownloadListStore(Path()).Save({record}));
    QFile file(Path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject top = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(top.value("format"), QJsonValue("quillmoor-download-list"));
    QCOMPARE(top.value("version"), QJsonValue(1));
    const QJsonObject row = top.value("rows").toArray().at(0).toObject();
    QCOMPARE(row.value("total"), QJsonValue("18446744073709551615"));
    QCOMPARE(row.value("received"), QJsonValue("9007199254740993"));
    QCOMPARE(row.value("percent"), QJsonValue(100));
    QCOMPARE(row.value("status"), QJsonValue(119));
    QVERIFY(!row.contains("reason"));
}

void TestDownloadListStore::handWrittenFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Records>("records");
    CDownloadRecord plain{.name = "clip.mp3",
                          .path = "/home/ann/Videos/clip.mp3",
                          .url = "http://127.0.0.1:8080/v",
                          .format = 7,
                          .status = 119};
    CDownloadRecord failed = plain;
    failed.status = IDS_FAILED;
    failed.url.clear();
    failed.reason = "timed out";
    failed.received = 0;

    QTest::newRow("no optional fields") << ListFile("[" + Row() + "]") << Records{plain};
    QTest::newRow("a field this version does not know is passed over")
        << ListFile("[" + Row("\"colour\": \"blue\"") + "]") << Records{plain};
    QTest::newRow("an empty address, a reason and zero bytes")
        << ListFile("[" +
                    Row("\"status\": 121, \"url\": \"\", \"reason\": \"timed out\", "
                        "\"received\": \"0\"") +
                    "]")
        << Records{failed};
    QTest::newRow("version written as 1.0") << ListFile("[" + Row() + "]", "1.0") << Records{plain};
}

void TestDownloadListStore::handWrittenFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Records, records);
    WriteFile(Path(), bytes);
    QString problem;
    QCOMPARE(CDownloadListStore(Path()).Load(&problem), records);
    QCOMPARE(problem, QString());
    QCOMPARE(Entries(), QStringList{kFile});
}

void TestDownloadListStore::missingFileIsAnEmptyList()
{
    QString problem = QStringLiteral("untouched");
    QCOMPARE(CDownloadListStore(Path()).Load(&problem), Records{});
    QCOMPARE(problem, QString());
    QCOMPARE(Entries(), QStringList{});
}

void TestDownloadListStore::damagedFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("spaces"); // appended after bytes
    const QByteArray good = ListFile("[" + Row() + "]");

    QTest::newRow("garbage bytes") << QByteArray("\x00\xff\xfe garbage\n", 13) << 0ll;
    QTest::newRow("an empty file") << QByteArray() << 0ll;
    QTest::newRow("truncated JSON") << good.left(good.size() / 2) << 0ll;
    QTest::newRow("a JSON array") << QByteArray("[" + Row() + "]") << 0ll;
    QTest::newRow("a JSON string") << QByteArray("\"quillmoor-download-list\"") << 0ll;
    QTest::newRow("no format marker") << QByteArray("{\"version\": 1, \"rows\": []}") << 0ll;
    QTest::newRow("another program's format marker")
        << QByteArray("{\"format\": \"someone-else\", \"version\": 1, \"rows\": []}") << 0ll;
    QTest::newRow("a newer version") << ListFile("[]", "2") << 0ll;
    QTest::newRow("version 0") << ListFile("[]", "0") << 0ll;
    QTest::newRow("version as text") << ListFile("[]", "\"1\"") << 0ll;
    QTest::newRow("no version") << QByteArray("{\"format\": \"quillmoor-download-list\", "
                                              "\"rows\": []}")
                                << 0ll;
    QTest::newRow("rows not a list") << ListFile("{}") << 0ll;
    QTest::newRow("a row that is not an object") << ListFile("[\"clip.mp3\"]") << 0ll;
    QTest::newRow("a running job's status (Downloading)")
        << ListFile("[" + Row("\"status\": 110") + "]") << 0ll;
    QTest::newRow("status as text") << ListFile("[" + Row("\"status\": \"111\"") + "]") << 0ll;
    QTest::newRow("format 8") << ListFile("[" + Row("\"format\": 8") + "]") << 0ll;
    QTest::newRow("format -1") << ListFile("[" + Row("\"format\": -1") + "]") << 0ll;
    QTest::newRow("format 1.5") << ListFile("[" + Row("\"format\": 1.5") + "]") << 0ll;
    QTest::newRow("format 1e300") << ListFile("[" + Row("\"format\": 1e300") + "]") << 0ll;
    QTest::newRow("a row without a path") << ListFile("[" + Row("\"path\": null") + "]") << 0ll;
    QTest::newRow("a row without a name") << ListFile("[" + Row("\"name\": null") + "]") << 0ll;
    QTest::newRow("an empty path") << ListFile("[" + Row("\"path\": \"\"") + "]") << 0ll;
    QTest::newRow("a row without an address") << ListFile("[" + Row("\"url\": null") + "]") << 0ll;
    QTest::newRow("a name that is a number") << ListFile("[" + Row("\"name\": 7") + "]") << 0ll;
    QTest::newRow("a reason that is a number") << ListFile("[" + Row("\"reason\": 7") + "]") << 0ll;
    QTest::newRow("a negative percent") << ListFile("[" + Row("\"percent\": -1") + "]") << 0ll;
    QTest::newRow("a fractional percent") << ListFile("[" + Row("\"percent\": 2.5") + "]") << 0ll;
    QTest::newRow("a percent past 2^53") << ListFile("[" + Row("\"percent\": 1e17") + "]") << 0ll;
    QTest::newRow("a negative byte count") << ListFile("[" + Row("\"total\": \"-5\"") + "]") << 0ll;
    QTest::newRow("a byte count past 64 bits")
        << ListFile("[" + Row("\"total\": \"18446744073709551616\"") + "]") << 0ll;
    QTest::newRow("a byte count with a sign")
        << ListFile("[" + Row("\"received\": \"+5\"") + "]") << 0ll;
    QTest::newRow("an empty byte count") << ListFile("[" + Row("\"received\": \"\"") + "]") << 0ll;
    QTest::newRow("a byte count as a number, which may have been rounded")
        << ListFile("[" + Row("\"total\": 1024") + "]") << 0ll;
    QTest::newRow("one bad row among good ones: none is taken")
        << ListFile("[" + Row() + "," + Row("\"status\": 109") + "," + Row() + "]") << 0ll;
    // Valid JSON but for its size: only the cap refuses it.
    QTest::newRow("a good list padded past 64 MiB")
        << good << qint64(CDownloadListStore::kMaxFileSize + 1 - good.size());
}

// A file that is not a good list of ours gives an empty list and is kept aside byte for byte,
// so that the next save, which works, cannot destroy it.
void TestDownloadListStore::damagedFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, spaces);
    WriteFile(Path(), bytes, spaces);
    const QByteArray hash = Sha256(Path());
    CDownloadListStore store(Path());
    QString problem;
    QCOMPARE(store.Load(&problem), Records{});

    const QStringList entries = Entries();
    QCOMPARE(entries.size(), 1);
    const QString aside = entries.constFirst();
    QVERIFY2(QRegularExpression(QStringLiteral("^downloads\\.json\\.damaged-\\d{8}-\\d{6}$"))
                 .match(aside)
                 .hasMatch(),
             qPrintable(aside));
    QCOMPARE(Sha256(Path(aside)), hash);
    QVERIFY2(problem.contains(Path()) && problem.contains(Path(aside)), qPrintable(problem));

    QString error;
    QVERIFY2(store.Save({Failed()}, &error), qPrintable(error));
    QCOMPARE(CDownloadListStore(Path()).Load(), Records{Failed()});
    QCOMPARE(Sha256(Path(aside)), hash);
    QCOMPARE(Entries(), (QStringList{kFile, aside}));
}

// Set-aside files of this second and the next already exist: a new one takes another name.
void TestDownloadListStore::setAsideNeverReplacesAnEarlierOne()
{
    const QDateTime now = QDateTime::currentDateTime();
    QStringList earlier;
    for (int second = -1; second <= 2; ++second) {
        const QString name =
            kFile + ".damaged-" + now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        WriteFile(Path(name), "earlier " + name.toUtf8());
        earlier << name;
    }
    WriteFile(Path(), "damaged");
    QCOMPARE(CDownloadListStore(Path()).Load(), Records{});
    QStringList added = Entries();
    for (const QString& name : earlier) {
        QCOMPARE(added.removeAll(name), 1);
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "earlier " + name.toUtf8());
    }
    QCOMPARE(added.size(), 1);
    QVERIFY2(added.constFirst().startsWith(kFile + ".damaged-"), qPrintable(added.constFirst()));
    QFile file(Path(added.constFirst()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("damaged"));
}

void TestDownloadListStore::saveCreatesTheFolder()
{
    const QString path = Path("new folder/and another/downloads.json");
    QString error;
    QVERIFY2(CDownloadListStore(path).Save({Finished()}, &error), qPrintable(error));
    QCOMPARE(CDownloadListStore(path).Load(), Records{Finished()});
}

void TestDownloadListStore::saveFails_data()
{
    QTest::addColumn<SaveTrouble>("trouble");
    QTest::addColumn<QString>("reason");
    QTest::newRow("its folder would be under a regular file")
        << SaveTrouble::UnderARegularFile << "Not a directory";
    QTest::newRow("the path is a folder")
        << SaveTrouble::PathIsAFolder << "Filename refers to a directory";
    QTest::newRow("under /proc") << SaveTrouble::UnderProc << "No such file or directory";
    QTest::newRow("a running job's row is refused before anything is written")
        << SaveTrouble::RunningRow << "status 110 is not a finished one";
    // Qt buffers writes of up to 16 KiB and writes longer ones at once: both must be checked.
    QTest::newRow("the disk takes no more: the earlier file stays whole")
        << SaveTrouble::DiskFull << "File too large";
    QTest::newRow("the disk takes no more of a list larger than Qt's write buffer")
        << SaveTrouble::DiskFullPastTheBuffer << "File too large";
}

// A save that fails says where and why, and leaves an earlier file and its folder as they
// were: no half file, no temporary file.
void TestDownloadListStore::saveFails()
{
    QFETCH(SaveTrouble, trouble);
    QFETCH(QString, reason);
    QString path = Path();
    Records records{Finished(), Failed()};
    std::unique_ptr<FileSizeLimit> limit;
    switch (trouble) {
    case SaveTrouble::UnderARegularFile:
        WriteFile(Path("plain"), "a file");
        path = Path("plain/downloads.json");
        break;
    case SaveTrouble::PathIsAFolder:
        QVERIFY(QDir(m_dir->path()).mkdir(kFile));
        break;
    case SaveTrouble::UnderProc:
        path = QStringLiteral("/proc/quillmoor-test/downloads.json");
        break;
    case SaveTrouble::RunningRow:
        QVERIFY(CDownloadListStore(path).Save({Failed()}));
        records[1].status = IDS_DOWNLOADING;
        break;
    case SaveTrouble::DiskFull:
    case SaveTrouble::DiskFullPastTheBuffer:
        QVERIFY(CDownloadListStore(path).Save({Failed()}));
        records[0].reason = QString(trouble == SaveTrouble::DiskFull ? 8192 : 65536, u'x');
        limit = std::make_unique<FileSizeLimit>(4096);
        break;
    }
    const QStringList before = Entries();
    const QByteArray hash = Sha256(Path());

    QString error;
    QVERIFY(!CDownloadListStore(path).Save(records, &error));
    limit.reset();
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY2(error.endsWith(reason), qPrintable(error));
    QCOMPARE(Entries(), before);
    QCOMPARE(Sha256(Path()), hash);
    if (trouble == SaveTrouble::RunningRow || trouble == SaveTrouble::DiskFull ||
        trouble == SaveTrouble::DiskFullPastTheBuffer)
        QCOMPARE(CDownloadListStore(path).Load(), Records{Failed()});
}

QTEST_GUILESS_MAIN(TestDownloadListStore)
#include "tst_downloadliststore.moc"
