#include "controls/shelllayer.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/downloadliststore.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "downloadlist/progressdelegate.h"
#include "engine/downloadthread.h"
#include "res/stringtable.h"
#include "tests/support/jobfixture.h"
#include "tests/support/scriptedhttpserver.h"

#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using Model = CDownloadListModel;
using Reply = CScriptedHttpServer::Reply;

namespace {

constexpr int kJobTimeoutMs = 20000;

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + i * 7 % 26);
    return bytes;
}

// Every cell of every row.
QList<QStringList> Cells(const Model& rows)
{
    QList<QStringList> cells;
    for (int row = 0; row < rows.rowCount(); ++row) {
        QStringList line;
        for (int column = 0; column < Model::ColumnCount; ++column)
            line << rows.CellText(row, column);
        cells << line;
    }
    return cells;
}

} // namespace

// The Download List pane: its tab, columns and selection, how the Progress cell is painted, the
// list it keeps between sessions and the news of jobs that end unseen.
class TestOutputWnd final : public QObject {
    Q_OBJECT

private slots:
    void keptListFollowsTheRows();
    void keptRowContinuesWhereItStopped();
    void damagedKeptListStartsEmpty();
    void jobEndedUnseenIsTold();
    void paneLayout();
    void progressCellPaintsABar();
    void selectedRowKeepsItsHighlightAroundTheBar();
};

void TestOutputWnd::paneLayout()
{
    COutputWnd pane;
    auto* tabs = qobject_cast<QTabWidget*>(pane.widget());
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Download"));
    QCOMPARE(tabs->tabPosition(), QTabWidget::South);
    QCOMPARE(tabs->widget(0), pane.List());

    QStringList headers;
    QList<int> widths;
    for (int c = 0; c < Model::ColumnCount; ++c) {
        headers << pane.Rows()->headerData(c, Qt::Horizontal).toString();
        widths << pane.List()->columnWidth(c);
    }
    QCOMPARE(headers, (QStringList{"File Name", "Status", "Progress", "Size", "Downloaded", "Speed",
                                   "Full Path"}));
    QCOMPARE(widths.mid(0, 6), (QList<int>{240, 110, 80, 80, 80, 80}));
    QCOMPARE(pane.List()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(pane.List()->selectionMode(), QAbstractItemView::ExtendedSelection);
}

void TestOutputWnd::progressCellPaintsABar()
{
    COutputWnd pane;
    pane.resize(800, 200);
    CDownloadThread job;
    pane.Rows()->AddJobRow(&job, QStringLiteral("clip.flv"), QStringLiteral("/v/clip.flv"));
    pane.Rows()->ShowDownloadProgress(&job, 1000, 500, 0);
    pane.Rows()->Refresh();
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));

    COutputList* list = pane.List();
    const QRect cell = list->visualRect(pane.Rows()->index(0, Model::Progress));
    const QImage image = list->viewport()->grab(cell).toImage();
    // Half the cell is the bar's fill, so its left and right ends differ in colour.
    const int y = image.height() / 2;
    QVERIFY(image.pixelColor(3, y) != image.pixelColor(image.width() - 4, y));
    QCOMPARE(pane.Rows()->data(pane.Rows()->index(0, Model::Progress)).toString(),
             QStringLiteral("50%"));
}

void TestOutputWnd::selectedRowKeepsItsHighlightAroundTheBar()
{
    Model rows;
    CDownloadThread job;
    rows.AddJobRow(&job, QStringLiteral("clip.flv"), QStringLiteral("/v/clip.flv"));
    rows.ShowDownloadProgress(&job, 1000, 500, 0);

    // The cell painted alone, on white, as a view whose style leaves each cell's selection
    // background to its painter would have it painted.
    QTableView view;
    view.setModel(&rows);
    CProgressDelegate delegate;
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.widget = &view;
    option.rect = QRect(0, 0, 80, 20);
    option.state |= QStyle::State_Selected | QStyle::State_Active;
    QImage image(option.rect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        delegate.paint(&painter, option, rows.index(0, Model::Progress));
    }
    // Outside the bar, at the cell's edge, the row's highlight shows.
    QCOMPARE(image.pixelColor(0, 10), option.palette.color(QPalette::Active, QPalette::Highlight));
}

void TestOutputWnd::keptListFollowsTheRows()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("downloads.json"));
    CScriptedHttpServer server;
    server.Route("/get_video", CScriptedHttpServer::Ok(Pattern(5000)));
    server.Route("/gone", CScriptedHttpServer::Status(404, "Not Found", "gone"));
    QList<QStringList> shown;
    {
        COutputWnd pane;
        pane.KeepListIn(file);
        const QPointer<CDownloadThread> done =
            StartJob(pane, server.Url("/get_video"), dir.filePath("done.flv"));
        const QPointer<CDownloadThread> failed =
            StartJob(pane, server.Url("/gone"), dir.filePath("failed.flv"));
        // Written once both have ended, not before, and never with a running row.
        QTRY_COMPARE_WITH_TIMEOUT(CDownloadListStore(file).Load().size(), 2, kJobTimeoutMs);
        shown = Cells(*pane.Rows());
    }

    COutputWnd next;
    next.KeepListIn(file);
    QCOMPARE(Cells(*next.Rows()), shown);
    QCOMPARE(next.Rows()->CellText(1, Model::Status), QStringLiteral("Failed"));
    QVERIFY2(next.Rows()->index(1, Model::Status).data(Qt::ToolTipRole).toString().contains("404"),
             "the reason came back");
    // Play works on the finished row, Retry is offered on the failed one.
    QStringList opened;
    const auto previous = CShellLayer::SetHandler([&opened](const QString& target) {
        opened << target;
        return 0;
    });
    next.List()->selectRow(0);
    next.List()->PlayVideoAction()->trigger();
    CShellLayer::SetHandler(previous);
    QCOMPARE(opened, QStringList{dir.filePath("done.flv")});
    QVERIFY(next.Rows()->CanRetry(1));

    // Cleared rows do not come back.
    next.List()->ClearCompletedAction()->trigger();
    QTRY_COMPARE(CDownloadListStore(file).Load().size(), 0);
}

void TestOutputWnd::keptRowContinuesWhereItStopped()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("downloads.json"));
    const QString path = dir.filePath(QStringLiteral("clip.flv"));
    const QByteArray body = Pattern(200000);
    constexpr qint64 kCut = 70000;
    CScriptedHttpServer server;
    Reply cut = CScriptedHttpServer::Ok(body);
    cut.cutAfter = kCut;
    server.RouteInTurn("/get_video", {cut, CScriptedHttpServer::Partial(body, kCut)});
    {
        COutputWnd pane;
        pane.KeepListIn(file);
        StartJob(pane, server.Url("/get_video"), path);
        QTRY_COMPARE_WITH_TIMEOUT(CDownloadListStore(file).Load().size(), 1, kJobTimeoutMs);
    }
    QCOMPARE(ReadWholeFile(path), body.left(kCut));

    // The next session has no job for the row: Retry makes one that goes on from the file.
    COutputWnd next;
    next.KeepListIn(file);
    QVERIFY(next.Rows()->CanRetry(0));
    QCOMPARE(next.Rows()->JobOf(0), nullptr);
    next.RestartRows({0});
    QVERIFY(next.Rows()->JobOf(0));
    QTRY_COMPARE_WITH_TIMEOUT(next.Rows()->CellText(0, Model::Status), QStringLiteral("Completed"),
                              kJobTimeoutMs);
    QCOMPARE(ReadWholeFile(path), body);
    QVERIFY(server.Requests().constLast().contains("\r\nRange: bytes=70000-\r\n"));
    QTRY_COMPARE(CDownloadListStore(file).Load().value(0).status, int(IDS_COMPLETED));
}

void TestOutputWnd::damagedKeptListStartsEmpty()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("downloads.json"));
    {
        QFile damaged(file);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("{\"format\": \"quillmoor-download-list\", \"version\": 1, \"rows\": [");
    }
    CScriptedHttpServer server;
    server.Route("/get_video", CScriptedHttpServer::Ok(Pattern(100)));
    COutputWnd pane;
    pane.KeepListIn(file);
    QCOMPARE(pane.Rows()->rowCount(), 0);
    // The damaged file is kept under another name; the list is written anew.
    QCOMPARE(QDir(dir.path()).entryList({"downloads.json.damaged-*"}, QDir::Files).size(), 1);
    StartJob(pane, server.Url("/get_video"), dir.filePath("clip.flv"));
    QTRY_COMPARE_WITH_TIMEOUT(CDownloadListStore(file).Load().size(), 1, kJobTimeoutMs);
}

void TestOutputWnd::jobEndedUnseenIsTold()
{
    QTemporaryDir dir;
    CScriptedHttpServer server;
    server.Route("/get_video", CScriptedHttpServer::Ok(Pattern(100)));
    server.Route("/gone", CScriptedHttpServer::Status(404, "Not Found", "gone"));
    COutputWnd pane;
    QSignalSpy told(&pane, &COutputWnd::jobEndedUnseen);

    // Not shown, so not the active window: each ending is news.
    const QPointer<CDownloadThread> done =
        StartJob(pane, server.Url("/get_video"), dir.filePath("a.flv"));
    const QPointer<CDownloadThread> failed =
        StartJob(pane, server.Url("/gone"), dir.filePath("b.flv"));
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 2, kJobTimeoutMs);
    QStringList news;
    for (const QList<QVariant>& signal : told)
        news << QFileInfo(signal[0].toString()).fileName() + ' ' + signal[1].toString();
    news.sort();
    QCOMPARE(news, (QStringList{"a.flv Completed", "b.flv Failed"}));

    // Seen: nothing more is said.
    told.clear();
    pane.show();
    pane.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    const QPointer<CDownloadThread> seen =
        StartJob(pane, server.Url("/get_video"), dir.filePath("c.flv"));
    // Once the thread has finished, the news of its end is queued already.
    QTRY_VERIFY_WITH_TIMEOUT(seen->isFinished(), kJobTimeoutMs);
    QCOMPARE(pane.Rows()->CellText(2, Model::Status), QStringLiteral("Completed"));
    QCoreApplication::processEvents();
    QCOMPARE(told.size(), 0);
}

QTEST_MAIN(TestOutputWnd)
#include "tst_outputwnd.moc"
