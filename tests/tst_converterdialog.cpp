#include "controls/credentialsdialog.h"
#include "net/httptext.h"
#include "provisioning/ffmpegdowloaddlg.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/scriptedhttpserver.h"

using Reply = CScriptedHttpServer::Reply;

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kTimeoutMs = 30000;
const char kArchive[] = QUILLMOOR_BUILD_DIR "/ffmpeg.zip";
const char kFront[] = QUILLMOOR_BUILD_DIR "/app/ffmpeg";

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestConverterDialog final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fetchesChecksAndUnpacks();
    void checksumMismatchUnpacksNothing();
    void errorPageInsteadOfAnArchive();
    void cancelDuringTheTransfer();
    void passwordPromptForTheTextClient_data();
    void passwordPromptForTheTextClient();

private:
    std::unique_ptr<CScriptedHttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestConverterDialog::init()
{
    m_server = std::make_unique<CScriptedHttpServer>();
    qputenv("QUILLMOOR_MAKER_HOST", m_server->HostAndPort().toLatin1());
    qunsetenv(CFfmpegDowloadDlg::kChecksumVariable);
    m_folder = std::make_unique<QTemporaryDir>();
}

void TestConverterDialog::cleanup()
{
    m_server.reset();
    m_folder.reset();
}

void TestConverterDialog::fetchesChecksAndUnpacks()
{
    Reply archive = CScriptedHttpServer::Ok(Read(kArchive));
    archive.dripBytes = 16384;
    archive.dripDelayMs = 1;
    m_server->Route("/download/ffmpeg.zip", archive);
    CFfmpegDowloadDlg dialog(nullptr, m_folder->path());
    QCOMPARE(dialog.m_strUrl, m_server->Url("/download/ffmpeg.zip"));
    QCOMPARE(dialog.PercentText(), QStringLiteral("0%"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Enter starts the download, as the default button does.
    QTest::keyClick(&dialog, Qt::Key_Return);
    QVERIFY(!dialog.DownloadButton()->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), kTimeoutMs);
    QCOMPARE(dialog.StatusText(), QStringLiteral("Download complete..."));
    QCOMPARE(dialog.PercentText(), QStringLiteral("100%"));
    const QString converter = m_folder->filePath(QStringLiteral("ffmpeg"));
    QVERIFY(QFileInfo(converter).isExecutable());
    QCOMPARE(Read(converter), Read(kFront));
    QVERIFY(!QFile::exists(dialog.m_strZipPath));
}

void TestConverterDialog::checksumMismatchUnpacksNothing()
{
    m_server->Route("/download/ffmpeg.zip", CScriptedHttpServer::Ok(Read(kArchive)));
    qputenv(CFfmpegDowloadDlg::kChecksumVariable, QByteArray(64, '0'));
    CFfmpegDowloadDlg dialog(nullptr, m_folder->path());
    CMessageBoxAnswer answer(QMessageBox::Ok);
    dialog.DownloadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.StatusText(), QStringLiteral("Download failed."), kTimeoutMs);
    QTRY_COMPARE(answer.texts,
                 QStringList{"The downloaded conversion program is damaged or has been tampered with."});
    QCOMPARE(answer.titles, QStringList{"Quillmoor"});
    QVERIFY(!QFile::exists(m_folder->filePath(QStringLiteral("ffmpeg"))));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestConverterDialog::errorPageInsteadOfAnArchive()
{
    const QByteArray page = "<html><body>404 Not Found</body></html>";
    m_server->Route("/download/ffmpeg.zip", CScriptedHttpServer::Status(404, "Not Found", page));
    // Were the page the expected file, the reader still refuses it.
    qputenv(CFfmpegDowloadDlg::kChecksumVariable,
            QCryptographicHash::hash(page, QCryptographicHash::Sha256).toHex());
    CFfmpegDowloadDlg dialog(nullptr, m_folder->path());
    CMessageBoxAnswer answer(QMessageBox::Ok);
    dialog.DownloadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.StatusText(), QStringLiteral("Extraction failed."), kTimeoutMs);
    QTRY_COMPARE(answer.texts, QStringList{"Damaged or not a zip file"});
    QVERIFY(!QFile::exists(m_folder->filePath(QStringLiteral("ffmpeg"))));
}

void TestConverterDialog::cancelDuringTheTransfer()
{
    Reply slow = CScriptedHttpServer::Ok(Read(kArchive));
    slow.dripBytes = 1024;
    slow.dripDelayMs = 20;
    m_server->Route("/download/ffmpeg.zip", slow);
    auto dialog = std::make_unique<CFfmpegDowloadDlg>(nullptr, m_folder->path());
    dialog->DownloadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->StatusText(), QStringLiteral("Downloading..."), kTimeoutMs);
    dialog->reject();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    dialog.reset();
    // The worker stops and whatever it still queues reaches no dialog.
    QTest::qWait(1500);
    QVERIFY(!QFile::exists(m_folder->filePath(QStringLiteral("ffmpeg"))));
}

void TestConverterDialog::passwordPromptForTheTextClient_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("result");
    QTest::newRow("OK sends the request again") << true << 0;
    QTest::newRow("Cancel gives 3") << false << 3;
}

void TestConverterDialog::passwordPromptForTheTextClient()
{
    QFETCH(bool, ok);
    QFETCH(int, result);
    Reply secret = CScriptedHttpServer::Status(200, "OK", "<version>1.1.0.1</version>");
    secret.requireHeader = "Authorization: Basic bWFrZXI6c2VjcmV0"; // maker, secret
    m_server->Route("/quillmoor_version.xml", secret);
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [ok] {
        auto* dialog = qobject_cast<CCredentialsDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->UserEdit()->setText(QStringLiteral("maker"));
        dialog->PasswordEdit()->setText(QStringLiteral("secret"));
        ok ? dialog->accept() : dialog->reject();
    });
    answer.start(10);
    QString text;
    QCOMPARE(HttpGetText(m_server->Url("/quillmoor_version.xml"), text, &CCredentialsDialog::Ask), result);
    QCOMPARE(text, ok ? QStringLiteral("<version>1.1.0.1</version>") : QString());
}

QTEST_MAIN(TestConverterDialog)
#include "tst_converterdialog.moc"
