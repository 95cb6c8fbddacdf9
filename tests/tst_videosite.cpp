#include "capture/pagetext.h"
#include "capture/videosite.h"

#include <QTest>

// The video site's fixed points: its addresses and the markers of a real video page.
class TestVideoSite final : public QObject {
    Q_OBJECT

private slots:
    void addresses_data();
    void addresses();
    void scrapesAVideoPage();
};

void TestVideoSite::addresses_data()
{
    QTest::addColumn<QByteArray>("override");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("video");

    QTest::newRow("constant host") << QByteArray() << "http://www.youtube.com"
                                   << "http://www.youtube.com/get_video?video_id=a%20b&t=T+1/=";
    QTest::newRow("blank override keeps the constant")
        << QByteArray("  ") << "http://www.youtube.com"
        << "http://www.youtube.com/get_video?video_id=a%20b&t=T+1/=";
    QTest::newRow("override with a port")
        << QByteArray("127.0.0.1:8123") << "http://127.0.0.1:8123"
        << "http://127.0.0.1:8123/get_video?video_id=a%20b&t=T+1/=";
}

void TestVideoSite::addresses()
{
    QFETCH(QByteArray, override);
    QFETCH(QString, home);
    QFETCH(QString, video);

    if (override.isNull())
        qunsetenv(VideoSite::kHostVariable);
    else
        qputenv(VideoSite::kHostVariable, override);
    QCOMPARE(VideoSite::HomePageUrl(), home);
    // Values go in exactly as extracted: no percent-encoding, no decoding.
    QCOMPARE(VideoSite::DirectVideoUrl(QStringLiteral("a%20b"), QStringLiteral("T+1/=")), video);
    qunsetenv(VideoSite::kHostVariable);
}

void TestVideoSite::scrapesAVideoPage()
{
    const QString page = QStringLiteral(
        "<HTML><HEAD><TITLE>YouTube - Cats &amp; Dogs: Part 2?</TITLE></HEAD><BODY><script>"
        "var swfArgs = {\"VIDEO_ID\": \"x7Yz_9\", \"l\": \"212\", \"t\": \"vjVQa1PpcFP\"};"
        "</script></BODY></HTML>");
    using namespace VideoSite;
    QString id, token, title;
    QCOMPARE(
        ExtractBetween(page, QString::fromUtf16(kVideoIdStart), QString::fromUtf16(kValueEnd), id),
        6);
    QCOMPARE(id, QStringLiteral("x7Yz_9"));
    ExtractBetween(page, QString::fromUtf16(kTokenStart), QString::fromUtf16(kValueEnd), token);
    QCOMPARE(token, QStringLiteral("vjVQa1PpcFP"));
    ExtractBetween(page, QString::fromUtf16(kTitleStart), QString::fromUtf16(kTitleEnd), title);
    RemoveFileNameChars(title);
    QCOMPARE(title, QStringLiteral("Cats & Dogs Part 2"));
}

QTEST_APPLESS_MAIN(TestVideoSite)
#include "tst_videosite.moc"
