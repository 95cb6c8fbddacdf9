#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "downloadlist/progressdelegate.h"
#include "engine/downloadthread.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

using Model = CDownloadListModel;

// The Download List pane: its tab, columns and selection, and how the Progress cell is painted.
class TestOutputWnd final : public QObject {
    Q_OBJECT

private slots:
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

QTEST_MAIN(TestOutputWnd)
#include "tst_outputwnd.moc"
