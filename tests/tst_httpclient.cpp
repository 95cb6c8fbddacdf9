#include "net/httpagentexception.h"
#include "net/httpdownload.h"
#include "net/httptext.h"
#include "tests/support/scriptedhttpserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using Reply = CScriptedHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)

namespace {

Reply Text(const QByteArray& body, int code = 200)
{
    return CScriptedHttpServer::Status(code, code == 200 ? "OK" : "Not Found", body);
}

// Shortens the text client's stall limit while it lives, so a stalled server fails in a test's
// time.
class ShortStallLimit final {
public:
    explicit ShortStallLimit(int ms) { SetHttpTextStallLimitMsForTests(ms); }
    ~ShortStallLimit() { SetHttpTextStallLimitMsForTests(0); }
    Q_DISABLE_COPY_MOVE(ShortStallLimit)
};

constexpr int kShortStallMs = 1500;

} // namespace

// The text client and the file download against scripted servers: results, stalls and caps.
class TestHttpClient final : public QObject {
    Q_OBJECT

private slots:
    void getText_data();
    void getText();
    void stalledServerFails_data();
    void stalledServerFails();
    void documentSizeIsCapped_data();
    void documentSizeIsCapped();
    void badAddressesSendNothing_data();
    void badAddressesSendNothing();
    void requestHeaders();
    void authentication_data();
    void authentication();
    void downloadFile_data();
    void downloadFile();
};

void TestHttpClient::getText_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain text") << Text("<version>1.1.0.1</version>") << 0
                                << "<version>1.1.0.1</version>";
    QTest::newRow("a 404 body is the document")
        << Text("<html>gone</html>", 404) << 0 << "<html>gone</html>";
    QTest::newRow("UTF-8 declared: decoded")
        << Text("<?xml version=\"1.0\" encoding=\"UTF-8\"?><v>caf\xc3\xa9</v>") << 0
        << QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-8\"?><v>caf\xc3\xa9</v>");
    QTest::newRow("utf-8 anywhere: decoded")
        << Text("charset utf-8: \xc3\xa9") << 0 << QString::fromUtf8("charset utf-8: \xc3\xa9");
    QTest::newRow("Utf-8 does not count: one character per byte")
        << Text("Utf-8 \xc3\xa9") << 0 << QStringLiteral("Utf-8 \u00c3\u00a9");
    QByteArray zero(1024, 'b');
    zero[10] = '\0';
    QTest::newRow("a zero byte drops the rest of its piece")
        << Text(zero) << 0 << QString(10, u'b') + QString(512, u'b');
    Reply dripped = Text(zero);
    dripped.dripBytes = 100;
    dripped.dripDelayMs = 20;
    QTest::newRow("pieces count from the stream's start, however the network splits it")
        << dripped << 0 << QString(10, u'b') + QString(512, u'b');
    Reply cut = Text("0123456789");
    cut.cutAfter = 4;
    QTest::newRow("cut short: what came, and a failure") << cut << 8 << "0123";
}

void TestHttpClient::getText()
{
    QFETCH(Reply, reply);
    QFETCH(int, result);
    QFETCH(QString, text);
    CScriptedHttpServer server;
    server.Route("/quillmoor_version.xml", reply);
    QString got = QStringLiteral("stale");
    QCOMPARE(HttpGetText(server.Url("/quillmoor_version.xml"), got), result);
    QCOMPARE(got, text);
}

void TestHttpClient::stalledServerFails_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");

    const QByteArray document = "<v>1.1.0.1</v>";
    Reply silent = Text(document);
    silent.headDelayMs = 60000;
    QTest::newRow("accepts, then sends nothing") << silent << 8 << "";
    Reply afterHead = Text(document);
    afterHead.silenceMs = 60000;
    QTest::newRow("sends the header block, then nothing") << afterHead << 8 << "";
    Reply partway = Text(document);
    partway.stallAfter = 3;
    QTest::newRow("stops partway: what came, and a failure") << partway << 8 << "<v>";
    // Longer in all than the limit, but never silent for as long.
    Reply slow = Text(document);
    slow.headDelayMs = kShortStallMs / 2;
    slow.dripBytes = 4;
    slow.dripDelayMs = kShortStallMs / 2;
    QTest::newRow("slow but never silent for the limit")
        << slow << 0 << QString::fromLatin1(document);
}

void TestHttpClient::stalledServerFails()
{
    QFETCH(Reply, reply);
    QFETCH(int, result);
    QFETCH(QString, text);
    QCOMPARE(kHttpTextStallLimitMs, 30000);
    const ShortStallLimit limit(kShortStallMs);
    CScriptedHttpServer server;
    server.Route("/quillmoor_version.xml", reply);
    QString got;
    QCOMPARE(HttpGetText(server.Url("/quillmoor_version.xml"), got), result);
    QCOMPARE(got, text);
}

void TestHttpClient::documentSizeIsCapped_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<qsizetype>("textSize");

    const QByteArray block(4096, 'v');
    const qint64 endless = std::numeric_limits<qint64>::max();
    QTest::newRow("exactly the cap: the document")
        << CScriptedHttpServer::Ok(block, kHttpTextMaxBytes) << 0 << kHttpTextMaxBytes;
    QTest::newRow("one byte more: a failure, holding the cap's worth")
        << CScriptedHttpServer::Ok(block, kHttpTextMaxBytes + 1) << 8 << kHttpTextMaxBytes;
    Reply stream = CScriptedHttpServer::WithoutLength(block);
    stream.bodySize = endless;
    QTest::newRow("a body without end") << stream << 8 << kHttpTextMaxBytes;
    // Zero bytes keep nothing, but they count.
    Reply zeros = CScriptedHttpServer::WithoutLength(QByteArray(4096, '\0'));
    zeros.bodySize = endless;
    QTest::newRow("zero bytes without end") << zeros << 8 << qsizetype(0);
    const Reply headers{.head = "HTTP/1.1 200 OK\r\n",
                        .body = "X-Padding: " + QByteArray(100, 'p') + "\r\n",
                        .bodySize = endless};
    QTest::newRow("a header block without end") << headers << 8 << qsizetype(0);
}

void TestHttpClient::documentSizeIsCapped()
{
    QFETCH(Reply, reply);
    QFETCH(int, result);
    QFETCH(qsizetype, textSize);
    QCOMPARE(kHttpTextMaxBytes, qsizetype(1024 * 1024));
    CScriptedHttpServer server;
    server.Route("/quillmoor_version.xml", reply);
    QString got;
    QCOMPARE(HttpGetText(server.Url("/quillmoor_version.xml"), got), result);
    QCOMPARE(got.size(), textSize);
}

void TestHttpClient::badAddressesSendNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("ftp") << "ftp://127.0.0.1:%1/file";
    QTest::newRow("no scheme") << "127.0.0.1:%1/file";
    QTest::newRow("not an address") << "http://[bad";
}

void TestHttpClient::badAddressesSendNothing()
{
    QFETCH(QString, url);
    CScriptedHttpServer server;
    QString text;
    QCOMPARE(HttpGetText(url.contains(u'%') ? url.arg(server.Port()) : url, text), 2);
    QVERIFY(text.isEmpty());
    QTest::qWait(100);
    QVERIFY(server.Requests().isEmpty());
    // Refused connections are network failures.
    const quint16 closed = CScriptedHttpServer().Port();
    QCOMPARE(HttpGetText(QStringLiteral("HTTP://127.0.0.1:%1/x").arg(closed), text), 8);
}

void TestHttpClient::requestHeaders()
{
    CScriptedHttpServer server;
    server.Route("/v", Text("x"));
    QString text;
    QCOMPARE(HttpGetText(server.Url("/v?from=https:"), text), 0);
    const QByteArray request = server.Requests().value(0);
    QVERIFY2(request.startsWith("GET /v?from=https: HTTP/1.1\r\n"), request.constData());
    for (const char* header : {"\r\nAccept: text/*\r\n", "\r\nUser-Agent: Norvane\r\n",
                               "\r\nCache-Control: no-cache\r\n", "\r\nPragma: no-cache\r\n",
                               "\r\nContent-Type: application/x-www-form-urlencoded\r\n"})
        QVERIFY2(request.contains(header), request.constData());
    QVERIFY(!request.contains("Quillmoor"));
}

void TestHttpClient::authentication_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("credentials given") << true << 0 << "secret version";
    QTest::newRow("cancelled") << false << 3 << "";
}

void TestHttpClient::authentication()
{
    QFETCH(bool, answer);
    QFETCH(int, result);
    QFETCH(QString, text);
    CScriptedHttpServer server;
    Reply secret = Text("secret version");
    secret.requireHeader = "Authorization: Basic bWFrZXI6cGE6c3M="; // maker, pa:ss
    server.Route("/v", secret);
    int asked = 0;
    const CredentialsPrompt prompt = [&](const QString&, QString& user, QString& password) {
        ++asked;
        user = QStringLiteral("maker");
        password = QStringLiteral("pa:ss");
        return answer;
    };
    QString got;
    QCOMPARE(HttpGetText(server.Url("/v"), got, prompt), result);
    QCOMPARE(got, text);
    QCOMPARE(asked, 1);
}

void TestHttpClient::downloadFile_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<qint64>("fileSize"); // -1: no file

    QByteArray body(2000, 'z');
    QTest::newRow("whole") << CScriptedHttpServer::Ok(body) << 0 << qint64(2000);
    QTest::newRow("an error page with a length is saved")
        << CScriptedHttpServer::Status(404, "Not Found", "<html>404</html>") << 0 << qint64(16);
    QTest::newRow("no length") << CScriptedHttpServer::WithoutLength(body) << 7 << qint64(-1);
    Reply cut = CScriptedHttpServer::Ok(body);
    cut.cutAfter = 700;
    QTest::newRow("cut short is a failure") << cut << 8 << qint64(700);
    QTest::newRow("Content-Length 0") << CScriptedHttpServer::Ok(QByteArray("")) << 0 << qint64(0);
}

void TestHttpClient::downloadFile()
{
    QFETCH(Reply, reply);
    QFETCH(int, result);
    QFETCH(qint64, fileSize);
    CScriptedHttpServer server;
    server.Route("/download/ffmpeg.zip", reply);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ffmpeg.zip"));
    QList<int> percents;
    QCOMPARE(HttpDownloadFile(server.Url("/download/ffmpeg.zip"), path,
                              [&percents](int p) { percents << p; }),
             result);
    QCOMPARE(QFileInfo::exists(path) ? QFileInfo(path).size() : -1, fileSize);
    if (result == 0) {
        QCOMPARE(percents.constFirst(), 0);
        QCOMPARE(percents.constLast(), 100);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
    }
    // No server at all: the address cannot be opened.
    const quint16 closed = CScriptedHttpServer().Port();
    QCOMPARE(
        HttpDownloadFile(QStringLiteral("http://127.0.0.1:%1/x").arg(closed), dir.filePath("y")),
        6);
    QVERIFY(!QFile::exists(dir.filePath("y")));
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
