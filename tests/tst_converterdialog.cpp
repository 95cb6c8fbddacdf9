#include "controls/credentialsdialog.h"
#include "net/httptext.h"
#include "provisioning/ffmpegdowloaddlg.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/scriptedhttpserver.h"

using Reply = CScriptedHttpServer::Reply;

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace {

constexpr int kTimeoutMs = 30000;
const char kArchive[] = QUILLMOOR_BUILD_DIR "/ffmpeg.zip";
const char kFront[] = QUILLMOOR_BUILD_DIR "/app/ffmpeg";

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether a TCP connection to or from port on this machine is established.
bool ConnectionOpen(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray hexPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    table.readLine(); // the column names
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        // "sl local_address rem_address st ...", the addresses as HEXADDR:HEXPORT.
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || fields[3] != "01")
            continue;
        if (fields[1].endsWith(':' + hexPort) || fields[2].endsWith(':' + hexPort))
            return true;
    }
    return false;
}

} // namespace

// The converter download dialog against a real server: fetch, checksum, unpack, and closing it.
class TestConverterDialog final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fetchesChecksAndUnpacks();
    void checksumMismatchUnpacksNothing();
    void errorPageInsteadOfAnArchive();
    void unwritableFolderIsNamed_data();
    void unwritableFolderIsNamed();
    void closingStopsTheTransfer_data();
    void closingStopsTheTransfer();
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
    QTRY_COMPARE(
        answer.texts,
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
    QTRY_COMPARE_WITH_TIMEOUT(dialog.StatusText(), QStringLiteral("Extraction failed."),
                              kTimeoutMs);
    QTRY_COMPARE(answer.texts, QStringList{"Damaged or not a zip file"});
    QVERIFY(!QFile::exists(m_folder->filePath(QStringLiteral("ffmpeg"))));
}

void TestConverterDialog::unwritableFolderIsNamed_data()
{
    QTest::addColumn<QString>("folder"); // relative: made in the test's folder, read-only
    QTest::addColumn<QString>("reason");
    // No file can be made there, whoever asks.
    QTest::newRow("a folder of the system's") << "/proc"
                                              << "No such file or directory";
    QTest::newRow("a folder the user may not write") << "installed"
                                                     << "Permission denied";
}

void TestConverterDialog::unwritableFolderIsNamed()
{
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    if (!folder.startsWith(u'/')) {
        if (geteuid() == 0)
            QSKIP("root may write any folder");
        folder = m_folder->filePath(folder);
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    m_server->Route("/download/ffmpeg.zip", CScriptedHttpServer::Ok(Read(kArchive)));
    CFfmpegDowloadDlg dialog(nullptr, folder);
    CMessageBoxAnswer answer(QMessageBox::Ok);
    dialog.DownloadButton()->click();
    QTRY_COMPARE(answer.texts.size(), 1);
    QCOMPARE(answer.texts[0],
             "The conversion program cannot be saved in this folder:\n" + folder + "\n" + reason);
    QCOMPARE(dialog.StatusText(), QStringLiteral("Download failed."));
    // Nothing was fetched, and the user may try again once the folder can be written.
    QVERIFY(m_server->Requests().isEmpty());
    QVERIFY(dialog.DownloadButton()->isEnabled());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestConverterDialog::closingStopsTheTransfer_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
    QTest::newRow("Cancel, then the dialog goes") << "cancel and destroy";
}

void TestConverterDialog::closingStopsTheTransfer()
{
    QFETCH(QString, how);
    // About 10 KB a second: the whole archive would take half a minute.
    Reply slow = CScriptedHttpServer::Ok(Read(kArchive));
    slow.dripBytes = 512;
    slow.dripDelayMs = 50;
    m_server->Route("/download/ffmpeg.zip", slow);
    auto dialog = std::make_unique<CFfmpegDowloadDlg>(nullptr, m_folder->path());
    const QString zip = dialog->m_strZipPath;
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->DownloadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->StatusText(), QStringLiteral("Downloading..."), kTimeoutMs);
    QVERIFY(QFile::exists(zip));
    QVERIFY(ConnectionOpen(m_server->Port()));

    if (how.startsWith("cancel")) {
        QPushButton* cancel = nullptr;
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            cancel = button->text() == QLatin1String("Cancel") ? button : cancel;
        QVERIFY(cancel);
        cancel->click();
    } else if (how == "escape") {
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    } else {
        QVERIFY(dialog->close());
    }
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!dialog->isVisible());
    if (how.endsWith("destroy"))
        dialog.reset();

    // The worker stops at its next piece while the dialog still exists, and cleans up after itself.
    QTRY_VERIFY_WITH_TIMEOUT(!ConnectionOpen(m_server->Port()), 10000);
    QTRY_VERIFY(!QFile::exists(zip));
    QVERIFY(!QFile::exists(m_folder->filePath(QStringLiteral("ffmpeg"))));
    if (dialog) {
        // Nothing it queued before it stopped reopens or ends the dialog.
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
    }
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
    QCOMPARE(HttpGetText(m_server->Url("/quillmoor_version.xml"), text, &CCredentialsDialog::Ask),
             result);
    QCOMPARE(text, ok ? QStringLiteral("<version>1.1.0.1</version>") : QString());
}

QTEST_MAIN(TestConverterDialog)
#include "tst_converterdialog.moc"
