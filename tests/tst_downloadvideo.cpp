#include "app/mainframe.h"
#include "browser/childframe.h"
#include "browser/quillmoorview.h"
#include "capture/downloadvideocommand.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "engine/outputformat.h"
#include "provisioning/ffmpegdowloaddlg.h"
#include "tests/support/flvfixture.h"
#include "tests/support/jobfixture.h"
#include "tests/support/modalscript.h"
#include "tests/support/scriptedhttpserver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <csignal>

// Runs the Download Video command on real tabs of a real main window, with pages from a test
// server, the dialogs answered as a user would, and the jobs it starts run to their end.
class TestDownloadVideo final : public QObject {
    Q_OBJECT

public:
    TestDownloadVideo(CMainFrame& frame, CScriptedHttpServer& site, const QString& home)
        : m_frame(frame), m_site(site), m_home(home)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogOffersTheEightTypes();
    void eachType_data();
    void eachType();
    void typedNames_data();
    void typedNames();
    void pagesWithoutAVideo_data();
    void pagesWithoutAVideo();
    void markersInOtherCapitals();
    void alreadyListed_data();
    void alreadyListed();
    void sameVideoUnderTwoTargets();
    void converterMissing_data();
    void converterMissing();
    void replaceQuestion_data();
    void replaceQuestion();
    void missingFolderStartsNothing();
    void pageCopyBytes_data();
    void pageCopyBytes();
    void pageCopyOfARealPage();
    void unwritablePageCopyDoesNotStopTheCommand();
    void proposedName_data();
    void proposedName();
    void nameWithADotSurvivesAnotherType();
    void pageReadWhileItsLoadEnds();
    void longTitleGivesNamesThatCanBeCreated();
    void lastFolderIsRemembered();
    void paneShownWithoutTakingTheFocus();
    void ctrlDRunsTheCommandOfTheActiveTab();
    void pageScriptsCannotChangeWhatIsRead();
    void secondCommandWhileWaiting();
    void tabClosedWhileWaiting();
    void windowClosedWhileWaiting();
    void enabledExactlyWhileATabIsOpen();
    void rendererDiesWhileWaiting();

private:
    COutputWnd* Pane() const { return m_frame.OutputWnd(); }
    CQuillmoorView* View() const { return m_frame.ActiveView(); }
    // Shows html in the active tab and waits until it is there.
    void ShowPage(const QByteArray& html);
    // Runs the command on the active tab, with the converter looked for in converterFolder.
    CDownloadThread* Run(const QString& converterFolder = QStringLiteral(QUILLMOOR_CONVERTER_DIR));
    // Waits until job has ended and returns its Status text.
    QString Finish(CDownloadThread* job);
    // Makes the active tab's page busy for ms milliseconds, so a read of it has to wait.
    void KeepPageBusy(int ms);
    // Shows a video page that can be made busy.
    void ShowBusyVideoPage();

    CMainFrame& m_frame;
    CScriptedHttpServer& m_site;
    QString m_home;
    QByteArray m_flv;
    int m_nPage = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

constexpr int kTimeoutMs = 60000;
constexpr char kFlash[] = "Flash Video (*.flv)";
constexpr char kMp3[] = "MP3 (*.mp3)";
const QString kNoVideo =
    QStringLiteral("QMessageBox Quillmoor|Can not find video to download. Please choose a video on "
                   "YouTube first.|%1")
        .arg(int(QMessageBox::Warning));
const QString kListed =
    QStringLiteral("QMessageBox Quillmoor|The video is already in your download list|%1")
        .arg(int(QMessageBox::Warning));
const QString kSaveDialog = QStringLiteral("QFileDialog Save Video As");

QByteArray VideoPage(const QByteArray& id, const QByteArray& token, const QByteArray& title,
                     const QByteArray& extra = {})
{
    return "<html><head><title>YouTube - " + title + "</title></head><body><p>watch</p>" + extra +
           "<script>var swfArgs = {\"video_id\": \"" + id + "\", \"t\": \"" + token +
           "\", \"hl\": \"en\"};</script></body></html>";
}

QByteArray ReadFile(const QString& path)
{
    return ReadWholeFile(path);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kTimeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace

void TestDownloadVideo::initTestCase()
{
    QTemporaryDir dir;
    const QString flv = dir.filePath(QStringLiteral("fixture.flv"));
    const QString error = MakeFlvFixture(flv, 2);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_flv = ReadFile(flv);
    m_site.Route("/get_video", CScriptedHttpServer::Ok(m_flv));
    m_site.Route("/busy-began", CScriptedHttpServer::Html("began"));
    m_site.Route("/download/ffmpeg.zip", CScriptedHttpServer::Ok(ReadFile(
                                             QStringLiteral(QUILLMOOR_BUILD_DIR "/ffmpeg.zip"))));
    m_frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_frame));
}

void TestDownloadVideo::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(View());
    ShowPage(VideoPage("x7Kd_9", "vjVQa1PpcFM", "A/B: C?"));
}

void TestDownloadVideo::cleanup()
{
    for (const CDownloadThread* job : Pane()->Jobs())
        QVERIFY(WaitUntil([job] { return job->HasEnded(); }));
    Pane()->Rows()->ClearCompleted();
    m_dir.reset();
}

void TestDownloadVideo::ShowPage(const QByteArray& html)
{
    const QByteArray path = "/watch" + QByteArray::number(++m_nPage);
    m_site.Route(path, CScriptedHttpServer::Html(html));
    CQuillmoorView* view = View();
    view->NavigateTo(m_site.Url(QString::fromLatin1(path)));
    QVERIFY(WaitUntil([&] {
        return view->url().path() == QString::fromLatin1(path) && view->IsDocumentReady();
    }));
    view->WaitUntilReady();
}

CDownloadThread* TestDownloadVideo::Run(const QString& converterFolder)
{
    CQuillmoorView* view = View();
    CDownloadVideoCommand command(*view, *Pane(), [view] {
        QString text;
        view->GetDocumentHtml(text);
        return text;
    });
    command.SetConverterFolder(converterFolder);
    return command.Run();
}

QString TestDownloadVideo::Finish(CDownloadThread* job)
{
    if (!job || !WaitUntil([job] { return job->HasEnded(); }))
        return QStringLiteral("(not ended)");
    // The view learns of the last report at the next refresh.
    Pane()->Rows()->Refresh();
    return JobCells(*Pane(), job).constFirst();
}

void TestDownloadVideo::KeepPageBusy(int ms)
{
    // The page tells the server when its one thread enters the loop, so the test knows the
    // page is busy from then on.
    const QString tag = QString::number(++m_nPage);
    View()->page()->runJavaScript(
        QStringLiteral("setTimeout(function () { busy(%1, '%2'); }, 0); 1").arg(ms).arg(tag));
    QVERIFY(WaitUntil([this, tag] {
        const QList<QByteArray> requests = m_site.Requests();
        return std::any_of(requests.begin(), requests.end(), [&tag](const QByteArray& r) {
            return r.startsWith("GET /busy-began?" + tag.toLatin1() + ' ');
        });
    }));
}

void TestDownloadVideo::ShowBusyVideoPage()
{
    ShowPage(VideoPage(
        "busy1", "tok", "Busy page",
        "<script>function busy(ms, tag) { fetch('/busy-began?' + tag); var t = Date.now();"
        " while (Date.now() - t < ms); }</script>"));
}

void TestDownloadVideo::dialogOffersTheEightTypes()
{
    QStringList filters;
    QString proposed;
    QString folder;
    CModalScript script({CModalScript::Inspect(
        [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            filters = dialog->nameFilters();
            proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            folder = dialog->directory().absolutePath();
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        },
        CModalScript::Reject())});
    const int rows = Pane()->Rows()->rowCount();
    QVERIFY(!Run());
    QCOMPARE(script.seen, QStringList{kSaveDialog});
    QCOMPARE(filters,
             (QStringList{"Flash Video (*.flv)", "iPod Video (*.mov)", "iPhone Video (*.mp4)",
                          "PSP H.264 (*.mp4)", "Cell Phone (*.3gp)", "Windows Media Video (*.wmv)",
                          "Xvid MPEG-4 (*.avi)", "MP3 (*.mp3)"}));
    // The title's characters that cannot stand in a file name are gone.
    QCOMPARE(proposed, QStringLiteral("AB C"));
    // Nothing saved yet: the user's videos folder.
    QCOMPARE(folder, QDir(m_home).filePath(QStringLiteral("Videos")));
    QCOMPARE(Pane()->Rows()->rowCount(), rows);
    QVERIFY(Pane()->Jobs().empty());
}

void TestDownloadVideo::eachType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("format");

    QTest::newRow("Flash Video keeps the file")
        << kFlash << ".flv" << false << int(OutputFormat::Flv);
    QTest::newRow("iPod") << "iPod Video (*.mov)"
                          << ".mov" << true << int(OutputFormat::IPod);
    // "iPod" is not in "iPhone": the first word found wins, and it is iPhone's own.
    QTest::newRow("iPhone is 2, not 1") << "iPhone Video (*.mp4)"
                                        << ".mp4" << true << int(OutputFormat::IPhone);
    QTest::newRow("PSP shares *.mp4 with iPhone") << "PSP H.264 (*.mp4)"
                                                  << ".mp4" << true << int(OutputFormat::Psp);
    QTest::newRow("cell phone") << "Cell Phone (*.3gp)"
                                << ".3gp" << true << int(OutputFormat::CellPhone);
    QTest::newRow("Windows Media") << "Windows Media Video (*.wmv)"
                                   << ".wmv" << true << int(OutputFormat::WindowsMedia);
    QTest::newRow("Xvid") << "Xvid MPEG-4 (*.avi)"
                          << ".avi" << true << int(OutputFormat::Xvid);
    QTest::newRow("MP3") << kMp3 << ".mp3" << true << int(OutputFormat::Mp3);
}

void TestDownloadVideo::eachType()
{
    QFETCH(QString, type);
    QFETCH(QString, extension);
    QFETCH(bool, convert);
    QFETCH(int, format);

    const QString typed = m_dir->filePath(QStringLiteral("clip"));
    CModalScript script({CModalScript::SaveAs(type, typed)});
    CDownloadThread* job = Run();
    QVERIFY2(job, qPrintable(script.seen.join(u'\n')));
    const QString target = typed + extension;
    QCOMPARE(job->m_strPath, target);
    QCOMPARE(job->m_strUrl, m_site.Url("/get_video?video_id=x7Kd_9&t=vjVQa1PpcFM"));
    QCOMPARE(job->m_bConvert, convert);
    QCOMPARE(job->m_nFormat, format);
    const int row = Pane()->Rows()->FindJobRow(job);
    QCOMPARE(Pane()->Rows()->CellText(row, CDownloadListModel::FileName), "clip" + extension);
    QCOMPARE(Pane()->Rows()->CellText(row, CDownloadListModel::FullPath), target);

    QCOMPARE(Finish(job), QStringLiteral("Completed"));
    QVERIFY2(job->Succeeded(), qPrintable(job->ErrorText()));
    QVERIFY(!QFile::exists(target + ".flv") || !convert);
    if (convert)
        QVERIFY(ProbeDuration(target) > 1.0);
    else
        QCOMPARE(ReadFile(target), m_flv);
    QCOMPARE(script.seen, QStringList{kSaveDialog});
}

void TestDownloadVideo::typedNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("convert");

    QTest::newRow("clip gets .flv") << "clip" << kFlash << "clip.flv" << false;
    QTest::newRow("clip.flv gets it again") << "clip.flv" << kFlash << "clip.flv.flv" << false;
    QTest::newRow("clip.avi with Flash Video is kept as FLV")
        << "clip.avi" << kFlash << "clip.avi.flv" << false;
    QTest::newRow("a name with blanks and signs")
        << "it's clip #1" << kFlash << "it's clip #1.flv" << false;
}

void TestDownloadVideo::typedNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, type);
    QFETCH(QString, target);
    QFETCH(bool, convert);

    CModalScript script({CModalScript::SaveAs(type, m_dir->filePath(typed))});
    CDownloadThread* job = Run();
    QVERIFY2(job, qPrintable(script.seen.join(u'\n')));
    QCOMPARE(job->m_strPath, m_dir->filePath(target));
    QCOMPARE(job->m_bConvert, convert);
    QCOMPARE(Finish(job), QStringLiteral("Completed"));
    QCOMPARE(ReadFile(m_dir->filePath(target)), m_flv);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{target});
}

void TestDownloadVideo::pagesWithoutAVideo_data()
{
    QTest::addColumn<QByteArray>("page");

    QTest::newRow("no token") << QByteArray(
        "<html><head><title>YouTube - x</title></head><body>"
        "<script>var a = {\"video_id\": \"abc\"};</script></body></html>");
    QTest::newRow("no identifier")
        << QByteArray("<html><head><title>YouTube - x</title></head><body>"
                      "<script>var a = {\"t\": \"tok\"};</script></body></html>");
    QTest::newRow("an empty token") << VideoPage("abc", "  ", "x");
    QTest::newRow("an identifier never closed") << QByteArray(
        "<html><body><script>var a = '\"t\": \"tok\" \"video_id\": \"abc';</script></body></html>");
    QTest::newRow("the home page") << QByteArray("<html><body><p>home</p></body></html>");
}

void TestDownloadVideo::pagesWithoutAVideo()
{
    QFETCH(QByteArray, page);
    ShowPage(page);
    QFile::remove(CDownloadVideoCommand::PageCopyPath());

    CModalScript script({CModalScript::Press(QMessageBox::Ok)});
    QVERIFY(!Run());
    QCOMPARE(script.seen, QStringList{kNoVideo});
    QVERIFY(Pane()->Jobs().empty());
    QCOMPARE(Pane()->Rows()->rowCount(), 0);
    // The copy is written before the page is looked at.
    QVERIFY(ReadFile(CDownloadVideoCommand::PageCopyPath()).startsWith("<html>"));
}

void TestDownloadVideo::markersInOtherCapitals()
{
    ShowPage("<html><head><title>YOUTUBE - Mixed Case</title></head><body><script>var a = "
             "{\"VIDEO_ID\": \"AbC-9\", \"T\": \"XyZ\"};</script></body></html>");
    QString proposed;
    CModalScript script({CModalScript::Inspect(
        [&](QWidget* modal) {
            proposed =
                QFileInfo(qobject_cast<QFileDialog*>(modal)->selectedFiles().value(0)).fileName();
        },
        CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("clip"))))});
    CDownloadThread* job = Run();
    QVERIFY(job);
    // The values keep their own case.
    QCOMPARE(job->m_strUrl, m_site.Url("/get_video?video_id=AbC-9&t=XyZ"));
    QCOMPARE(proposed, QStringLiteral("Mixed Case"));
}

void TestDownloadVideo::alreadyListed_data()
{
    QTest::addColumn<QString>("firstType");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("secondType");
    QTest::addColumn<QString>("second");

    QTest::newRow("the same target, completed") << kFlash << "clip" << kFlash << "clip";
    QTest::newRow("a target differing only in A-Z case") << kFlash << "Clip" << kFlash << "cLIP";
    // A conversion's download (the target with ".flv") is a file a job writes too.
    QTest::newRow("a Flash Video target that a listed conversion downloads to")
        << kMp3 << "clip" << kFlash << "clip.mp3";
    QTest::newRow("a conversion that would download to a listed target")
        << kFlash << "clip.mp3" << kMp3 << "clip";
}

void TestDownloadVideo::alreadyListed()
{
    QFETCH(QString, firstType);
    QFETCH(QString, first);
    QFETCH(QString, secondType);
    QFETCH(QString, second);

    {
        CModalScript one({CModalScript::SaveAs(firstType, m_dir->filePath(first))});
        CDownloadThread* job = Run();
        QVERIFY(job);
        QCOMPARE(Finish(job), QStringLiteral("Completed"));
    }
    const QStringList files = QDir(m_dir->path()).entryList(QDir::Files);

    // Listed comes first: a file may exist too, but no replace question is asked.
    CModalScript two({CModalScript::SaveAs(secondType, m_dir->filePath(second)),
                      CModalScript::Press(QMessageBox::Ok)});
    QVERIFY(!Run());
    QCOMPARE(two.seen, (QStringList{kSaveDialog, kListed}));
    QCOMPARE(Pane()->Jobs().size(), size_t(1));
    QCOMPARE(Pane()->Rows()->rowCount(), 1);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), files);
}

void TestDownloadVideo::sameVideoUnderTwoTargets()
{
    CModalScript script({CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("one"))),
                         CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("two")))});
    CDownloadThread* one = Run();
    CDownloadThread* two = Run();
    QVERIFY(one && two && one != two);
    QCOMPARE(one->m_strUrl, two->m_strUrl);
    QCOMPARE(Finish(one), QStringLiteral("Completed"));
    QCOMPARE(Finish(two), QStringLiteral("Completed"));
    QCOMPARE(ReadFile(m_dir->filePath(QStringLiteral("one.flv"))), m_flv);
    QCOMPARE(ReadFile(m_dir->filePath(QStringLiteral("two.flv"))), m_flv);
}

void TestDownloadVideo::converterMissing_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("inFolder");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("download");

    QTest::newRow("declined: no job, no row") << kMp3 << "" << true << false;
    QTest::newRow("fetched: the job converts with it") << kMp3 << "" << true << true;
    QTest::newRow("one that cannot run is missing") << kMp3 << "not a program" << true << false;
    QTest::newRow("Flash Video never looks for it") << kFlash << "" << false << false;
}

void TestDownloadVideo::converterMissing()
{
    QFETCH(QString, type);
    QFETCH(QString, inFolder);
    QFETCH(bool, offered);
    QFETCH(bool, download);

    QTemporaryDir converter;
    if (!inFolder.isEmpty()) {
        QFile file(converter.filePath(QStringLiteral("ffmpeg")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(inFolder.toUtf8());
    }
    const QString target = m_dir->filePath(QStringLiteral("clip"));
    QList<CModalScript::Step> steps{CModalScript::SaveAs(type, target)};
    if (offered) {
        steps << [download](QWidget* modal) {
            auto* dialog = qobject_cast<CFfmpegDowloadDlg*>(modal);
            if (download && dialog)
                dialog->DownloadButton()->click();
            else
                qobject_cast<QDialog*>(modal)->reject();
        };
    }
    const qsizetype requests = m_site.Requests().size();
    CModalScript script(steps);
    CDownloadThread* job = Run(converter.path());
    QCOMPARE(script.Pending(), 0);
    QVERIFY2(!script.seen.join(u'\n').contains("unexpected"), qPrintable(script.seen.join(u'\n')));
    if (offered)
        QCOMPARE(script.seen.value(1),
                 QStringLiteral("CFfmpegDowloadDlg Download Video Conversion Program"));

    if (offered && !download) {
        QVERIFY(!job);
        QVERIFY(Pane()->Jobs().empty());
        QCOMPARE(Pane()->Rows()->rowCount(), 0);
        QCOMPARE(m_site.Requests().size(), requests);
        return;
    }
    QVERIFY(job);
    QCOMPARE(job->m_strConverterFolder, converter.path());
    QCOMPARE(Finish(job), QStringLiteral("Completed"));
    if (download) {
        QVERIFY(QFileInfo(converter.filePath(QStringLiteral("ffmpeg"))).isExecutable());
        QVERIFY(ProbeDuration(target + ".mp3") > 1.0);
    } else {
        QCOMPARE(ReadFile(target + ".flv"), m_flv);
        QVERIFY(QDir(converter.path()).isEmpty());
    }
}

void TestDownloadVideo::replaceQuestion_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("started");

    const auto warning = [](const QString& text) {
        return QStringLiteral("QMessageBox %1|%2|%3")
            .arg(text.startsWith(QLatin1String("%DIR%")) ? "Quillmoor" : "Save Video As", text)
            .arg(int(QMessageBox::Warning));
    };
    const QString clipFlv = warning("clip.flv already exists.\nDo you want to replace it?");
    QTest::newRow("clip.flv exists, No keeps it") << kFlash << "clip.flv"
                                                  << "file" << QMessageBox::No << clipFlv << false;
    QTest::newRow("clip.flv exists, Yes replaces it")
        << kFlash << "clip.flv"
        << "file" << QMessageBox::Yes << clipFlv << true;
    QTest::newRow("only the typed name exists: not asked")
        << kFlash << "clip"
        << "file" << QMessageBox::NoButton << "" << true;
    QTest::newRow("a conversion's download would replace a file")
        << kMp3 << "clip.mp3.flv"
        << "file" << QMessageBox::No
        << warning("clip.mp3.flv already exists.\nDo you want to replace it?") << false;
    QTest::newRow("a link is replaced, not written through")
        << kFlash << "clip.flv"
        << "link" << QMessageBox::Yes << clipFlv << true;
    QTest::newRow("a folder cannot be replaced")
        << kFlash << "clip.flv"
        << "folder" << QMessageBox::Ok
        << warning("%DIR%/clip.flv\nThis is a folder. Choose another name.") << false;
}

void TestDownloadVideo::replaceQuestion()
{
    QFETCH(QString, type);
    QFETCH(QString, existing);
    QFETCH(QString, kind);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, asked);
    QFETCH(bool, started);

    const QByteArray old = "the user's own file";
    const QString there = m_dir->filePath(existing);
    QTemporaryDir elsewhere;
    const QString linked = elsewhere.filePath(QStringLiteral("outside.flv"));
    {
        QFile file(kind == QLatin1String("link") ? linked : there);
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(there));
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
        }
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(linked, there));
    }
    bool noByDefault = false;
    QList<CModalScript::Step> steps{
        CModalScript::SaveAs(type, m_dir->filePath(QStringLiteral("clip")))};
    if (!asked.isEmpty()) {
        steps << CModalScript::Inspect(
            [&noByDefault](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                noByDefault = box && box->defaultButton() == box->button(QMessageBox::No);
            },
            CModalScript::Press(answer));
    }
    CModalScript script(steps);
    CDownloadThread* job = Run();
    QStringList expected{kSaveDialog};
    if (!asked.isEmpty())
        expected << QString(asked).replace(QLatin1String("%DIR%"), m_dir->path());
    QCOMPARE(script.seen, expected);
    // The question about replacing says No unless told otherwise.
    QCOMPARE(noByDefault, !asked.isEmpty() && kind != QLatin1String("folder"));
    QCOMPARE(job != nullptr, started);
    if (job)
        QCOMPARE(Finish(job), QStringLiteral("Completed"));

    if (kind == QLatin1String("link")) {
        QCOMPARE(ReadFile(linked), old);
        QVERIFY(!QFileInfo(there).isSymLink());
        QCOMPARE(ReadFile(there), m_flv);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QFileInfo(there).isDir());
    } else if (started && existing == QLatin1String("clip.flv")) {
        QCOMPARE(ReadFile(there), m_flv);
    } else {
        QCOMPARE(ReadFile(there), old);
    }
}

void TestDownloadVideo::missingFolderStartsNothing()
{
    const QString folder = m_dir->filePath(QStringLiteral("not there"));
    CModalScript script(
        {CModalScript::SaveAs(kFlash, folder + "/clip"), CModalScript::Press(QMessageBox::Ok)});
    QVERIFY(!Run());
    QCOMPARE(
        script.seen.value(1),
        QStringLiteral("QMessageBox Quillmoor|%1\nThis folder does not exist. Choose a folder that "
                       "exists and try again.|%2")
            .arg(folder)
            .arg(int(QMessageBox::Warning)));
    QVERIFY(Pane()->Jobs().empty());
    QVERIFY(!QFileInfo::exists(folder));
}

void TestDownloadVideo::pageCopyBytes_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ASCII as it is") << "<html>a b</html>" << QByteArray("<html>a b</html>");
    QTest::newRow("a line feed becomes CR LF") << "a\nb\n" << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR LF gets a second CR") << "a\r\nb" << QByteArray("a\r\r\nb");
    QTest::newRow("up to U+00FF one byte each")
        << QString::fromUtf16(u"caf\u00e9 \u00ff\u00a0") << QByteArray("caf\xe9 \xff\xa0");
    QTest::newRow("ends before the first character above U+00FF")
        << QString::fromUtf16(u"ab\u20accd\nef") << QByteArray("ab");
    QTest::newRow("a character outside the BMP ends it too")
        << QString::fromUtf16(u"x\U0001F600y") << QByteArray("x");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestDownloadVideo::pageCopyBytes()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, bytes);
    QCOMPARE(CDownloadVideoCommand::PageCopyBytes(page), bytes);
}

void TestDownloadVideo::pageCopyOfARealPage()
{
    ShowPage(
        QString::fromUtf16(u"<html><head><title>YouTube - Caf\u00e9</title></head><body>"
                           u"<pre>first\nsecond \u00e9t\u00e9 \u20ac after</pre></body></html>")
            .toUtf8());
    QFile::remove(CDownloadVideoCommand::PageCopyPath());
    CModalScript script({CModalScript::Press(QMessageBox::Ok)});
    QVERIFY(!Run());
    QCOMPARE(CDownloadVideoCommand::PageCopyPath(),
             QDir(qEnvironmentVariable("XDG_CACHE_HOME")).filePath(QStringLiteral("youtube.html")));
    const QByteArray copy = ReadFile(CDownloadVideoCommand::PageCopyPath());
    QVERIFY2(copy.startsWith("<html><head><title>YouTube - Caf\xe9</title>"), copy.constData());
    QVERIFY2(copy.endsWith("<pre>first\r\nsecond \xe9t\xe9 "), copy.constData());
}

void TestDownloadVideo::unwritablePageCopyDoesNotStopTheCommand()
{
    // A folder where the copy would go: it cannot be written.
    const QString copy = CDownloadVideoCommand::PageCopyPath();
    QFile::remove(copy);
    QVERIFY(QDir().mkpath(copy));
    CModalScript script({CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("clip")))});
    CDownloadThread* job = Run();
    QVERIFY(QDir().rmdir(copy));
    QVERIFY(job);
    QCOMPARE(Finish(job), QStringLiteral("Completed"));
}

void TestDownloadVideo::proposedName_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");

    // 255 bytes for a name, less the longest extension with the conversion's ".flv": 247.
    QTest::newRow("a short title") << "A clip"
                                   << "A clip";
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("ASCII past the limit") << QString(300, u'a') << QString(247, u'a');
    QTest::newRow("exactly at the limit") << QString(247, u'a') << QString(247, u'a');
    QTest::newRow("two-byte characters cut whole")
        << QString(200, QChar(0xE9)) << QString(123, QChar(0xE9));
    QTest::newRow("three-byte characters cut whole")
        << QString(100, QChar(0x65E5)) << QString(82, QChar(0x65E5));
    const QString clapper = QString::fromUtf16(u"\U0001F3AC");
    QTest::newRow("a pair of surrogates is never split")
        << QString::fromUtf16(u"a") + clapper.repeated(70)
        << QString::fromUtf16(u"a") + clapper.repeated(61);
    QTest::newRow("line breaks and tabs become blanks") << "Part one\nPart\ttwo\x7f"
                                                        << "Part one Part two ";
    QTest::newRow("no leading dot to hide the file") << ". .hidden clip"
                                                     << "hidden clip";
    QTest::newRow("dots inside stay") << "Vol. 2 Live"
                                      << "Vol. 2 Live";
}

void TestDownloadVideo::proposedName()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QCOMPARE(CDownloadVideoCommand::ProposedName(title), name);
}

void TestDownloadVideo::nameWithADotSurvivesAnotherType()
{
    ShowPage(VideoPage("abc", "tok", "Vol. 2 Live"));
    QString shown;
    CModalScript script({[this, &shown](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog->setDirectory(m_dir->path());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        if (!name || !types)
            return static_cast<QDialog*>(dialog)->reject();
        name->setText(QStringLiteral("Vol. 2 Live"));
        // The last type, chosen with the keyboard as a user does; then Save.
        types->setFocus();
        QTest::keyClick(types, Qt::Key_End);
        QTimer::singleShot(200, dialog, [dialog, name, &shown] {
            shown = name->text();
            static_cast<QDialog*>(dialog)->accept();
        });
    }});
    CDownloadThread* job = Run();
    QVERIFY2(job, qPrintable(script.seen.join(u'\n')));
    QCOMPARE(shown, QStringLiteral("Vol. 2 Live"));
    QCOMPARE(job->m_strPath, m_dir->filePath(QStringLiteral("Vol. 2 Live.mp3")));
    QCOMPARE(job->m_nFormat, int(OutputFormat::Mp3));
}

void TestDownloadVideo::pageReadWhileItsLoadEnds()
{
    // The page's load ends while the read waits: the load event is held back by a picture
    // that comes late, and its handler keeps the page busy. The read must still get its page.
    CScriptedHttpServer::Reply late = CScriptedHttpServer::Status(200, "OK", "not a picture");
    late.headDelayMs = 500;
    m_site.Route("/late.png", late);
    m_site.Route("/onload-began", CScriptedHttpServer::Html("began"));
    const QByteArray page = VideoPage("onload1", "tok", "Onload",
                                      "<img src='/late.png'><script>window.onload = function () {"
                                      " fetch('/onload-began'); var t = Date.now();"
                                      " while (Date.now() - t < 1500); };</script>");
    m_site.Route("/onload-page", CScriptedHttpServer::Html(page));
    const qsizetype before = m_site.Requests().size();
    View()->NavigateTo(m_site.Url("/onload-page"));
    QVERIFY(WaitUntil([&] {
        const QList<QByteArray> requests = m_site.Requests().mid(before);
        return std::any_of(requests.begin(), requests.end(),
                           [](const QByteArray& r) { return r.startsWith("GET /onload-began "); });
    }));
    QVERIFY(!View()->IsDocumentReady());
    CModalScript script({CModalScript::Reject()});
    QVERIFY(!Run());
    QCOMPARE(script.seen, QStringList{kSaveDialog});
}

void TestDownloadVideo::longTitleGivesNamesThatCanBeCreated()
{
    const QString title = QString::fromUtf16(u"Long ") + QString(200, QChar(0x00E9));
    ShowPage(VideoPage("abc", "tok", title.toUtf8()));
    // The proposed name as it stands, the type chosen, Save; the job converts through the
    // intermediate file with its longer name.
    CModalScript script({[this](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        const QString name = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        dialog->setDirectory(m_dir->path());
        dialog->selectNameFilter(QString::fromLatin1(kMp3));
        dialog->selectFile(m_dir->filePath(name));
        static_cast<QDialog*>(dialog)->accept();
    }});
    CDownloadThread* job = Run();
    QVERIFY2(job, qPrintable(script.seen.join(u'\n')));
    QVERIFY(QFileInfo(job->m_strPath).fileName().startsWith(u"Long \u00e9\u00e9"));
    QCOMPARE(Finish(job), QStringLiteral("Completed"));
    QVERIFY(QFileInfo(job->m_strPath).size() > 0);
}

void TestDownloadVideo::lastFolderIsRemembered()
{
    QTemporaryDir other;
    {
        CModalScript first({CModalScript::SaveAs(kFlash, other.filePath(QStringLiteral("clip")))});
        QVERIFY(Run());
    }
    QString opened;
    CModalScript second({CModalScript::Inspect(
        [&opened](QWidget* modal) {
            opened = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
        },
        CModalScript::Reject())});
    QVERIFY(!Run());
    QCOMPARE(opened, other.path());

    // Kept in the settings file, for the next start.
    QSettings settings;
    settings.sync();
    QSettings onDisk(settings.fileName(), QSettings::NativeFormat);
    QCOMPARE(onDisk.value(QLatin1String(CDownloadVideoCommand::kLastFolderKey)).toString(),
             other.path());
    QVERIFY(WaitUntil([this] {
        const auto jobs = Pane()->Jobs();
        return std::all_of(jobs.begin(), jobs.end(), [](auto* job) { return job->HasEnded(); });
    }));
}

void TestDownloadVideo::paneShownWithoutTakingTheFocus()
{
    Pane()->hide();
    m_frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_frame));
    View()->setFocus();
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused && (focused == View() || View()->isAncestorOf(focused)));

    CModalScript script({CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("clip")))});
    QVERIFY(Run());
    QVERIFY(Pane()->isVisible());
    // The window's own focus, which comes back with the window's activation.
    QCOMPARE(m_frame.focusWidget(), focused);
}

void TestDownloadVideo::ctrlDRunsTheCommandOfTheActiveTab()
{
    // Two tabs on two videos: the key works on the one shown.
    QPointer<CChildFrame> second = m_frame.TabArea()->OpenTab(QStringLiteral("YouTube"));
    ShowPage(VideoPage("second-tab", "tok2", "Second"));
    m_frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_frame));
    View()->setFocus();
    // The command started by the key looks for the converter in the program's own folder; the
    // Flash Video type does not need it.
    CModalScript script({CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("by key")))});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_D, Qt::ControlModifier);
    QVERIFY(WaitUntil([this] { return !Pane()->Jobs().empty(); }));
    QCOMPARE(script.seen, QStringList{kSaveDialog});
    auto* job = const_cast<CDownloadThread*>(Pane()->Jobs().front());
    QCOMPARE(job->m_strUrl, m_site.Url("/get_video?video_id=second-tab&t=tok2"));
    QCOMPARE(Finish(job), QStringLiteral("Completed"));
    second->close();
    QVERIFY(WaitUntil([&second] { return second.isNull(); }));
}

void TestDownloadVideo::pageScriptsCannotChangeWhatIsRead()
{
    // The page replaces what a script of its own world would read the page with. (Its source
    // is part of the page: the markers are put together so as not to stand in it.)
    ShowPage(VideoPage(
        "real-id", "real-token", "Real",
        "<script>var q = '\"', fake = '<html>' + q + 'video_id' + q + ': ' + q + 'fake' + q +"
        "', ' + q + 't' + q + ': ' + q + 'fake' + q + '</html>';"
        "Object.defineProperty(Element.prototype, 'outerHTML', {get: function () { return fake; }});"
        "Object.defineProperty(Element.prototype, 'tagName', {get: function () { return 'HTML'; }});"
        "document.getElementsByTagName = function () { return []; };"
        "Object.defineProperty(document, 'all', {get: function () { return undefined; }});"
        "</script>"));
    CModalScript script({CModalScript::SaveAs(kFlash, m_dir->filePath(QStringLiteral("clip")))});
    CDownloadThread* job = Run();
    QVERIFY2(job, qPrintable(script.seen.join(u'\n')));
    QCOMPARE(job->m_strUrl, m_site.Url("/get_video?video_id=real-id&t=real-token"));
}

void TestDownloadVideo::secondCommandWhileWaiting()
{
    ShowBusyVideoPage();
    KeepPageBusy(3000);
    bool secondReturned = false;
    CDownloadThread* second = nullptr;
    QTimer::singleShot(200, this, [&] {
        second = Run();
        secondReturned = true;
    });
    CModalScript script({CModalScript::Reject()});
    QVERIFY(!Run());
    QVERIFY(secondReturned);
    QVERIFY(!second);
    // One dialog, the first command's, after its page came.
    QCOMPARE(script.seen, QStringList{kSaveDialog});
}

void TestDownloadVideo::tabClosedWhileWaiting()
{
    m_frame.TabArea()->OpenTab(QStringLiteral("YouTube"));
    ShowBusyVideoPage();
    // Far longer than the test waits: the wait must end with the tab, not with the page.
    KeepPageBusy(30000);
    QPointer<CChildFrame> tab = m_frame.ActiveTab();
    QTimer::singleShot(200, this, [tab] {
        if (tab)
            tab->close();
    });
    CModalScript script;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!Run());
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(WaitUntil([&tab] { return tab.isNull(); }));
    QCOMPARE(script.seen, QStringList());
    QVERIFY(Pane()->Jobs().empty());
}

void TestDownloadVideo::windowClosedWhileWaiting()
{
    ShowBusyVideoPage();
    KeepPageBusy(3000);
    QTimer::singleShot(200, &m_frame, &QWidget::close);
    CModalScript script;
    QVERIFY(!Run());
    QCOMPARE(script.seen, QStringList());
    QVERIFY(Pane()->Jobs().empty());
    m_frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_frame));
}

void TestDownloadVideo::enabledExactlyWhileATabIsOpen()
{
    QAction* command = nullptr;
    for (QAction* menu : m_frame.menuBar()->actions()) {
        for (QAction* item : menu->menu()->actions())
            if (item->text() == QLatin1String("&Download Video...\tCtrl+D"))
                command = item;
    }
    QVERIFY(command);
    QVERIFY(m_frame.ToolBar()->actions().contains(command));
    QCOMPARE(command->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
    QVERIFY(command->isEnabled());
    QList<QPointer<CChildFrame>> tabs;
    for (CChildFrame* tab : m_frame.Tabs()) {
        tabs << tab;
        tab->close();
    }
    QVERIFY(WaitUntil([&tabs] {
        return std::all_of(tabs.begin(), tabs.end(), [](auto& t) { return t.isNull(); });
    }));
    QVERIFY(!command->isEnabled());
    QCOMPARE(m_frame.windowTitle(), QStringLiteral("Quillmoor"));
    m_frame.TabArea()->OpenTab(QStringLiteral("YouTube"));
    QVERIFY(command->isEnabled());
    QCOMPARE(m_frame.windowTitle(), QStringLiteral("Quillmoor - YouTube"));
}

void TestDownloadVideo::rendererDiesWhileWaiting()
{
    ShowBusyVideoPage();
    // Far longer than the page read would wait for an answer on its own.
    KeepPageBusy(120000);
    const qint64 pid = View()->page()->renderProcessPid();
    QVERIFY(pid > 0);
    QTimer::singleShot(200, this, [pid] { ::kill(pid_t(pid), SIGKILL); });
    CModalScript script({CModalScript::Press(QMessageBox::Ok)});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!Run());
    // Ended by the renderer's death, not by the read's own 30-second limit.
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(script.seen, QStringList{kNoVideo});
}

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // A home, settings and cache of the test's own, so nothing is remembered from elsewhere.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    QDir(home.path()).mkpath(QStringLiteral("Videos"));
    CScriptedHttpServer site;
    site.Route("/", CScriptedHttpServer::Html("<html><body>home</body></html>"));
    qputenv("QUILLMOOR_SITE_HOST", site.HostAndPort().toLatin1());
    qputenv("QUILLMOOR_MAKER_HOST", site.HostAndPort().toLatin1());
    qunsetenv(CFfmpegDowloadDlg::kChecksumVariable);

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QApplication::setApplicationName(QStringLiteral("Quillmoor"));
    // Closing the window in a test must not end the test's own event loops.
    app.setQuitOnLastWindowClosed(false);
    int result = 0;
    {
        CMainFrame frame;
        frame.TabArea()->OpenTab(QStringLiteral("YouTube"));
        TestDownloadVideo test(frame, site, home.path());
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "tst_downloadvideo.moc"

// The web engine's own code (not built with the sanitizer) frees some objects through a base
// type of another size; that is its business, not this program's.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
