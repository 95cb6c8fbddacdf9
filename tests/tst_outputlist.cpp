#include "controls/shelllayer.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/modalscript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <thread>

using Model = CDownloadListModel;

namespace {

constexpr int kRows = 4;

// Puts each row in the state its text names, through the same operations the jobs use.
void SetStatuses(COutputWnd& pane, std::array<CDownloadThread, kRows>& jobs,
                 const QStringList& statuses)
{
    for (int i = 0; i < statuses.size(); ++i) {
        CDownloadThread* job = &jobs[size_t(i)];
        pane.Rows()->AddJobRow(job, QStringLiteral("clip%1.flv").arg(i),
                               QStringLiteral("/v/clip%1.flv").arg(i));
        const QString& s = statuses[i];
        if (s == "Downloading" || s == "Cancelling" || s == "Completed" || s.startsWith("Conver"))
            pane.Rows()->ShowDownloadProgress(job, 1000, 990, 10);
        if (s == "Cancelling")
            pane.Rows()->CancelRows({i});
        if (s == "Completed" || s.startsWith("Conver"))
            pane.Rows()->ShowDownloadCompleted(job);
        if (s.startsWith("Conver"))
            pane.Rows()->ShowConversionQueued(job);
        if (s == "Converting")
            pane.Rows()->ShowConversionProgress(job, 100, 50);
        if (s == "Converted") {
            pane.Rows()->ShowConversionProgress(job, 100, 100);
            pane.Rows()->ShowConversionCompleted(job);
        }
        if (s == "Failed")
            pane.Rows()->ShowFailed(job, QStringLiteral("reason"));
        if (s == "Paused") {
            pane.Rows()->ShowDownloadProgress(job, 1000, 500, 10);
            pane.Rows()->ShowPaused(job);
        }
        // Two ways a row fails with "100%" in its Progress cell.
        if (s == "Failed in the last write") {
            pane.Rows()->ShowDownloadProgress(job, 1000, 1000, 10);
            pane.Rows()->ShowFailed(job, QStringLiteral("reason"));
        }
        if (s == "Failed after converting to the end") {
            pane.Rows()->ShowDownloadProgress(job, 1000, 1000, 10);
            pane.Rows()->ShowDownloadCompleted(job);
            pane.Rows()->ShowConversionQueued(job);
            pane.Rows()->ShowConversionProgress(job, 100, 100);
            pane.Rows()->ShowFailed(job, QStringLiteral("reason"));
        }
    }
}

QStringList Column(const COutputWnd& pane, int column)
{
    QStringList texts;
    for (int i = 0; i < pane.Rows()->rowCount(); ++i)
        texts << pane.Rows()->CellText(i, column);
    return texts;
}

// Jobs whose threads have run and ended; a job never started counts as running.
void EndJobs(std::array<CDownloadThread, kRows>& jobs, const QList<bool>& running)
{
    for (int i = 0; i < running.size(); ++i) {
        if (!running[i]) {
            jobs[size_t(i)].start();
            jobs[size_t(i)].wait();
        }
    }
}

void Select(COutputList* list, const QList<int>& rows)
{
    list->clearSelection();
    for (int row : rows)
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Whether the context menu, opened over the list, offers Play Video.
bool PlayVideoOffered(COutputList* list)
{
    bool offered = false;
    QTimer::singleShot(0, list, [&offered, list] {
        offered = list->PlayVideoAction()->isEnabled();
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
    return offered;
}

} // namespace

// The Download List's commands: Clear Completed, Cancel Download, Play Video, open and sort.
class TestOutputList final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void clearCompleted_data();
    void clearCompleted();
    void cancelDownload_data();
    void cancelDownload();
    void cancelDownloadWhileARowLeaves_data();
    void cancelDownloadWhileARowLeaves();
    void cancelActiveDownloadsOnClose();
    void cancelLosesToACompletion();
    void playVideo_data();
    void playVideo();
    void doubleClickOpensTheRowsFile();
    void headerClicksSortByText();
    void listCommandsFollowTheRows_data();
    void listCommandsFollowTheRows();
    void listCommandsComeAfterTheirOwn();
    void deleteRemovesRowsThatDoNotRun();
    void enterPlaysTheSelectedFinishedRow_data();
    void enterPlaysTheSelectedFinishedRow();
    void finishedRowsDragOutAsFiles();
    void openContainingFolder();
    void clearKeepsTheRowsThatStay_data();
    void clearKeepsTheRowsThatStay();

private:
    std::unique_ptr<COutputWnd> m_pane;
    std::array<CDownloadThread, kRows> m_jobs;
    QStringList m_opened;
};

void TestOutputList::init()
{
    for (auto& job : m_jobs)
        job.m_bCancel = false;
    m_pane = std::make_unique<COutputWnd>();
    m_opened.clear();
    CShellLayer::SetHandler([this](const QString& target) {
        m_opened << target;
        return 0;
    });
}

void TestOutputList::clearCompleted_data()
{
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QStringList>("left");

    QTest::newRow("completed rows go, others keep their order")
        << QStringList{"Completed", "Cancelling", "Completed", "Downloading"}
        << QStringList{"Cancelling", "Downloading"};
    QTest::newRow("failed rows are finished too")
        << QStringList{"Failed", "Converting", "Conversion Queued", "Starting"}
        << QStringList{"Converting", "Conversion Queued", "Starting"};
    QTest::newRow("nothing to clear") << QStringList{"Starting"} << QStringList{"Starting"};
}

void TestOutputList::clearCompleted()
{
    QFETCH(QStringList, statuses);
    QFETCH(QStringList, left);
    SetStatuses(*m_pane, m_jobs, statuses);
    QCOMPARE(Column(*m_pane, Model::Status), statuses);
    m_pane->List()->ClearCompletedAction()->trigger();
    QCOMPARE(Column(*m_pane, Model::Status), left);
}

void TestOutputList::cancelDownload_data()
{
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("questions");

    const QStringList three{"Downloading", "Starting", "Completed"};
    QTest::newRow("running and starting rows cancelled, asked once")
        << three << QList<int>{0, 1, 2} << true
        << QStringList{"Cancelling", "Cancelling", "Completed"} << 1;
    QTest::newRow("answer No changes nothing") << three << QList<int>{0, 1} << false << three << 1;
    QTest::newRow("a converting row is asked about, then left alone")
        << QStringList{"Converting"} << QList<int>{0} << true << QStringList{"Converting"} << 1;
    QTest::newRow("nothing selected: no question") << three << QList<int>{} << true << three << 0;
}

void TestOutputList::cancelDownload()
{
    QFETCH(QStringList, statuses);
    QFETCH(QList<int>, selected);
    QFETCH(bool, yes);
    QFETCH(QStringList, after);
    QFETCH(int, questions);

    SetStatuses(*m_pane, m_jobs, statuses);
    Select(m_pane->List(), selected);
    CMessageBoxAnswer answer(yes ? QMessageBox::Yes : QMessageBox::No);
    m_pane->List()->CancelDownloadAction()->trigger();
    QCOMPARE(Column(*m_pane, Model::Status), after);
    QCOMPARE(answer.texts.size(), questions);
    if (questions)
        QCOMPARE(answer.texts.constFirst(),
                 QStringLiteral("Are you sure you want to cancel the selected download(s)?"));
    for (int i = 0; i < statuses.size(); ++i)
        QCOMPARE(m_jobs[size_t(i)].m_bCancel.load(),
                 after[i] == "Cancelling" && statuses[i] != after[i]);
}

void TestOutputList::cancelDownloadWhileARowLeaves_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QList<bool>>("cancelled");

    // Row 0's job was cancelled before; its worker removes the row while the question is up,
    // and the rows below it move up by one.
    QTest::newRow("the row below the leaving one is cancelled, not its neighbour")
        << QList<int>{1} << QStringList{"Cancelling", "Downloading"}
        << QList<bool>{true, true, false};
    QTest::newRow("the leaving row and the one below it selected")
        << QList<int>{0, 1} << QStringList{"Cancelling", "Downloading"}
        << QList<bool>{true, true, false};
    QTest::newRow("only the leaving row selected: nothing else is cancelled")
        << QList<int>{0} << QStringList{"Downloading", "Downloading"}
        << QList<bool>{true, false, false};
}

void TestOutputList::cancelDownloadWhileARowLeaves()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, after);
    QFETCH(QList<bool>, cancelled);

    SetStatuses(*m_pane, m_jobs, {"Cancelling", "Downloading", "Downloading"});
    Select(m_pane->List(), selected);
    const auto rowLeaves = [this](QWidget*) {
        std::thread([this] { m_pane->Rows()->RemoveJobRow(&m_jobs[0]); }).join();
        // The list's refresh, inside the question's own loop, takes the row out.
        QVERIFY(QTest::qWaitFor([this] { return m_pane->Rows()->rowCount() == 2; }, 5000));
    };
    CModalScript script({CModalScript::Inspect(rowLeaves, CModalScript::Press(QMessageBox::Yes))});
    m_pane->List()->CancelDownloadAction()->trigger();
    QCOMPARE(script.Pending(), 0);
    QCOMPARE(Column(*m_pane, Model::Status), after);
    for (int i = 0; i < cancelled.size(); ++i)
        QCOMPARE(m_jobs[size_t(i)].m_bCancel.load(), cancelled[i]);
}

void TestOutputList::cancelActiveDownloadsOnClose()
{
    SetStatuses(*m_pane, m_jobs, {"Downloading", "Converting", "Starting", "Conversion Queued"});
    m_pane->List()->CancelActiveDownloads();
    QCOMPARE(Column(*m_pane, Model::Status),
             (QStringList{"Cancelling", "Converting", "Cancelling", "Conversion Queued"}));
    QVERIFY(m_jobs[0].m_bCancel && !m_jobs[1].m_bCancel && m_jobs[2].m_bCancel &&
            !m_jobs[3].m_bCancel);
}

void TestOutputList::cancelLosesToACompletion()
{
    // The job completes right after the row was marked: the row must not stay "Cancelling".
    SetStatuses(*m_pane, m_jobs, {"Downloading"});
    m_pane->List()->CancelActiveDownloads();
    m_pane->Rows()->ShowDownloadCompleted(&m_jobs[0]);
    QCOMPARE(Column(*m_pane, Model::Status), QStringList{"Completed"});

    // A job that has ended reports nothing more: its row is not written through.
    CDownloadThread ended;
    ended.m_strUrl = QStringLiteral("http://127.0.0.1:1/");
    ended.start();
    QVERIFY(ended.wait(30000));
    m_pane->Rows()->AddJobRow(&ended, QStringLiteral("x"), QStringLiteral("/x"));
    m_pane->List()->CancelActiveDownloads();
    QCOMPARE(m_pane->Rows()->CellText(1, Model::Status), QStringLiteral("Starting"));
    m_pane.reset();
}

void TestOutputList::playVideo_data()
{
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("opened");

    QTest::newRow("99% is not playable")
        << QStringList{"Downloading"} << QList<int>{0} << false << QStringList{"/v/clip0.flv"};
    QTest::newRow("100% after the download is playable")
        << QStringList{"Completed"} << QList<int>{0} << true << QStringList{"/v/clip0.flv"};
    QTest::newRow("two selected: the upper one plays")
        << QStringList{"Completed", "Completed"} << QList<int>{1, 0} << true
        << QStringList{"/v/clip0.flv"};
    QTest::newRow("the first selected row decides")
        << QStringList{"Downloading", "Completed"} << QList<int>{0, 1} << false
        << QStringList{"/v/clip0.flv"};
    QTest::newRow("nothing selected")
        << QStringList{"Completed"} << QList<int>{} << false << QStringList{};
    QTest::newRow("failed in its last write at 100% is not playable")
        << QStringList{"Failed in the last write"} << QList<int>{0} << false << QStringList{};
    QTest::newRow("converter failed after reporting its full position: not playable")
        << QStringList{"Failed after converting to the end"} << QList<int>{0} << false
        << QStringList{};
    QTest::newRow("a converted row at 100% is playable")
        << QStringList{"Converted"} << QList<int>{0} << true << QStringList{"/v/clip0.flv"};
}

void TestOutputList::playVideo()
{
    QFETCH(QStringList, statuses);
    QFETCH(QList<int>, selected);
    QFETCH(bool, enabled);
    QFETCH(QStringList, opened);

    SetStatuses(*m_pane, m_jobs, statuses);
    Select(m_pane->List(), selected);
    QCOMPARE(m_pane->List()->CanPlayVideo(), enabled);
    CMessageBoxAnswer answer(QMessageBox::Ok);
    m_pane->List()->PlayVideoAction()->trigger();
    QCOMPARE(m_opened, opened);
    QCOMPARE(answer.texts,
             selected.isEmpty() ? QStringList{"Please select a video first."} : QStringList{});
    // Last: the menu leaves the command disabled where it is not offered.
    QCOMPARE(PlayVideoOffered(m_pane->List()), enabled);
}

void TestOutputList::doubleClickOpensTheRowsFile()
{
    SetStatuses(*m_pane, m_jobs, {"Downloading", "Completed"});
    m_pane->resize(900, 300);
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    COutputList* list = m_pane->List();
    // A view takes a double-click for a row only after a press on it, as a real mouse sends.
    const auto doubleClick = [list](QPoint at) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(list->visualRect(list->model()->index(1, Model::FileName)).center());
    QCOMPARE(m_opened, QStringList{"/v/clip1.flv"});
    // Below the last row there is no row and nothing to open.
    doubleClick(QPoint(5, list->viewport()->height() - 3));
    QCOMPARE(m_opened, QStringList{"/v/clip1.flv"});
}

void TestOutputList::headerClicksSortByText()
{
    const quint64 sizes[] = {9961472, 10695475, 524288, 1100};
    for (int i = 0; i < 4; ++i) {
        m_pane->Rows()->AddJobRow(&m_jobs[size_t(i)], QStringLiteral("n%1").arg(i),
                                  QStringLiteral("/p%1").arg(i));
        m_pane->Rows()->ShowDownloadProgress(&m_jobs[size_t(i)], sizes[i], 0, 0);
    }
    m_pane->Rows()->ShowDownloadCompleted(&m_jobs[3]);
    COutputList* list = m_pane->List();
    QHeaderView* header = list->horizontalHeader();
    m_pane->resize(900, 300);
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    const auto click = [&](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };

    // Texts, not numbers: 10.2MB sorts before 9.5MB.
    click(Model::Size);
    QCOMPARE(Column(*m_pane, Model::Size), (QStringList{"1.1KB", "10.2MB", "512.0KB", "9.5MB"}));
    QCOMPARE(list->SortAscending(), true);
    click(Model::Size);
    QCOMPARE(Column(*m_pane, Model::Size), (QStringList{"9.5MB", "512.0KB", "10.2MB", "1.1KB"}));
    click(Model::Status);
    QCOMPARE(Column(*m_pane, Model::Status),
             (QStringList{"Completed", "Downloading", "Downloading", "Downloading"}));
    // Each row still belongs to its job.
    QCOMPARE(m_pane->Rows()->CellText(m_pane->Rows()->FindJobRow(&m_jobs[2]), Model::Size),
             QStringLiteral("512.0KB"));
}

void TestOutputList::listCommandsFollowTheRows_data()
{
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QList<bool>>("running");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QList<bool>>("enabled");  // Pause, Resume, Retry, Remove from List
    QTest::addColumn<QList<int>>("restarted"); // rows Resume and Retry hand to the pane, in turn

    QTest::newRow("a running download can be paused, not removed")
        << QStringList{"Downloading"} << QList<bool>{true} << QList<int>{0}
        << QList<bool>{true, false, false, false} << QList<int>{};
    QTest::newRow("a converting row: nothing but the list's own commands")
        << QStringList{"Converting"} << QList<bool>{true} << QList<int>{0}
        << QList<bool>{false, false, false, false} << QList<int>{};
    QTest::newRow("paused: resume or remove")
        << QStringList{"Paused"} << QList<bool>{false} << QList<int>{0}
        << QList<bool>{false, true, false, true} << QList<int>{0};
    QTest::newRow("failed: retry or remove")
        << QStringList{"Failed"} << QList<bool>{false} << QList<int>{0}
        << QList<bool>{false, false, true, true} << QList<int>{0};
    QTest::newRow("a mixed selection: each command takes its own rows")
        << QStringList{"Failed", "Downloading", "Paused", "Completed"}
        << QList<bool>{false, true, false, false} << QList<int>{0, 1, 2, 3}
        << QList<bool>{true, true, true, true} << QList<int>{2, 0};
    QTest::newRow("nothing selected") << QStringList{"Failed"} << QList<bool>{false} << QList<int>{}
                                      << QList<bool>{false, false, false, false} << QList<int>{};
}

void TestOutputList::listCommandsFollowTheRows()
{
    QFETCH(QStringList, statuses);
    QFETCH(QList<bool>, running);
    QFETCH(QList<int>, selected);
    QFETCH(QList<bool>, enabled);
    QFETCH(QList<int>, restarted);

    std::array<CDownloadThread, kRows> jobs;
    EndJobs(jobs, running);
    SetStatuses(*m_pane, jobs, statuses);
    COutputList* list = m_pane->List();
    Select(list, selected);
    list->UpdateCommandStates();
    QCOMPARE((QList<bool>{list->PauseAction()->isEnabled(), list->ResumeAction()->isEnabled(),
                          list->RetryAction()->isEnabled(), list->RemoveAction()->isEnabled()}),
             enabled);

    list->PauseAction()->trigger();
    for (int i = 0; i < statuses.size(); ++i)
        QCOMPARE(jobs[size_t(i)].m_bPause.load(), enabled[0] && statuses[i] == "Downloading");

    // Restarting is the pane's; here only what the list hands it counts.
    disconnect(list, &COutputList::restartRequested, m_pane.get(), nullptr);
    QList<int> handed;
    connect(list, &COutputList::restartRequested, this,
            [&handed](const QList<int>& rows) { handed << rows; });
    list->ResumeAction()->trigger();
    list->RetryAction()->trigger();
    disconnect(list, &COutputList::restartRequested, this, nullptr);
    QCOMPARE(handed, restarted);
}

void TestOutputList::listCommandsComeAfterTheirOwn()
{
    COutputList* list = m_pane->List();
    QStringList texts;
    QTimer::singleShot(0, list, [&texts] {
        if (QWidget* menu = QApplication::activePopupWidget()) {
            for (const QAction* action : menu->actions())
                texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            menu->close();
        }
    });
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
    QCOMPARE(texts,
             (QStringList{"&Clear Completed", "Play Video", "Cancel Download", "-", "&Pause",
                          "&Resume", "Re&try", "Open Containing &Folder", "Remove from &List"}));
}

void TestOutputList::deleteRemovesRowsThatDoNotRun()
{
    std::array<CDownloadThread, kRows> jobs;
    EndJobs(jobs, {false, true, false, false});
    SetStatuses(*m_pane, jobs, {"Failed", "Downloading", "Completed", "Paused"});
    COutputList* list = m_pane->List();
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    // The menu last showed Remove from List disabled, for a running row alone.
    Select(list, {1});
    list->UpdateCommandStates();
    QVERIFY(!list->RemoveAction()->isEnabled());
    Select(list, {0, 1, 3});
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Column(*m_pane, Model::Status), (QStringList{"Downloading", "Completed"}));
}

void TestOutputList::enterPlaysTheSelectedFinishedRow_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("opened");
    QTest::newRow("completed: its file opens") << "Completed" << QStringList{"/v/clip0.flv"};
    QTest::newRow("downloading: nothing") << "Downloading" << QStringList{};
    QTest::newRow("failed: nothing") << "Failed" << QStringList{};
}

void TestOutputList::enterPlaysTheSelectedFinishedRow()
{
    QFETCH(QString, status);
    QFETCH(QStringList, opened);
    SetStatuses(*m_pane, m_jobs, {status});
    COutputList* list = m_pane->List();
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    Select(list, {0});
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(m_opened, opened);
}

void TestOutputList::finishedRowsDragOutAsFiles()
{
    SetStatuses(*m_pane, m_jobs, {"Completed", "Downloading", "Converted", "Failed"});
    Model* rows = m_pane->Rows();
    QModelIndexList all;
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < Model::ColumnCount; ++column)
            all << rows->index(row, column);
    std::unique_ptr<QMimeData> data(rows->mimeData(all));
    QVERIFY(data);
    QCOMPARE(data->urls(), (QList<QUrl>{QUrl::fromLocalFile("/v/clip0.flv"),
                                        QUrl::fromLocalFile("/v/clip2.flv")}));
    QVERIFY(!(rows->flags(rows->index(1, 0)) & Qt::ItemIsDragEnabled));
    std::unique_ptr<QMimeData> none(rows->mimeData({rows->index(1, 0), rows->index(3, 0)}));
    QVERIFY(!none);
}

void TestOutputList::openContainingFolder()
{
    // No session bus: the folder goes to the desktop's opener.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QTemporaryDir dir;
    const QString there = dir.filePath(QStringLiteral("there.flv"));
    QFile file(there);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Model* rows = m_pane->Rows();
    rows->AddJobRow(&m_jobs[0], QStringLiteral("there.flv"), there);
    rows->AddJobRow(&m_jobs[1], QStringLiteral("gone.flv"),
                    dir.filePath(QStringLiteral("gone.flv")));
    COutputList* list = m_pane->List();

    Select(list, {1});
    list->UpdateCommandStates();
    QVERIFY(!list->OpenFolderAction()->isEnabled());
    Select(list, {0});
    list->UpdateCommandStates();
    QVERIFY(list->OpenFolderAction()->isEnabled());
    list->OpenFolderAction()->trigger();
    QTRY_COMPARE(m_opened, QStringList{dir.path()});
}

void TestOutputList::clearKeepsTheRowsThatStay_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("every"); // every this-th row is a finished one that goes
    QTest::newRow("a few blocks go one by one") << 6 << 3;
    QTest::newRow("every other row: many blocks go at once") << 40 << 2;
}

void TestOutputList::clearKeepsTheRowsThatStay()
{
    QFETCH(int, rows);
    QFETCH(int, every);
    const auto jobs = std::make_unique<CDownloadThread[]>(size_t(rows));
    Model* model = m_pane->Rows();
    COutputList* list = m_pane->List();
    QList<int> selected;
    for (int i = 0; i < rows; ++i) {
        model->AddJobRow(&jobs[size_t(i)], QStringLiteral("n%1").arg(i),
                         QStringLiteral("/p%1").arg(i));
        model->ShowDownloadProgress(&jobs[size_t(i)], 1000, 100, 0);
        if (i % every == 0)
            model->ShowDownloadCompleted(&jobs[size_t(i)]);
        else if (i % 4 == 1)
            selected << i;
    }
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    Select(list, selected);
    list->selectionModel()->setCurrentIndex(model->index(selected.constLast(), 0),
                                            QItemSelectionModel::NoUpdate);

    list->ClearCompletedAction()->trigger();
    QStringList names;
    QStringList expected;
    for (int i = 0; i < rows; ++i) {
        if (i % every != 0)
            expected << QStringLiteral("n%1").arg(i);
    }
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->CellText(row, Model::FileName);
    QCOMPARE(names, expected);
    // The selection and the current row stay with their rows, and each job finds its own row.
    QStringList selectedNames;
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        selectedNames << model->CellText(index.row(), Model::FileName);
    selectedNames.sort();
    QStringList wanted;
    for (int i : selected)
        wanted << QStringLiteral("n%1").arg(i);
    wanted.sort();
    QCOMPARE(selectedNames, wanted);
    QCOMPARE(model->CellText(list->currentIndex().row(), Model::FileName),
             QStringLiteral("n%1").arg(selected.constLast()));
    for (int i = 0; i < rows; ++i) {
        const int row = model->FindJobRow(&jobs[size_t(i)]);
        QCOMPARE(row < 0, i % every == 0);
        if (row >= 0)
            QCOMPARE(model->CellText(row, Model::FileName), QStringLiteral("n%1").arg(i));
    }
    model->ShowDownloadProgress(&jobs[1], 1000, 500, 0);
    QCOMPARE(model->CellText(model->FindJobRow(&jobs[1]), Model::Progress), QStringLiteral("50%"));
}

QTEST_MAIN(TestOutputList)
#include "tst_outputlist.moc"
