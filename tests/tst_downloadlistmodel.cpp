#include "downloadlist/downloadlistmodel.h"
#include "engine/downloadthread.h"
#include "res/stringtable.h"

#include <QSignalSpy>
#include <QTest>

#include <array>
#include <atomic>
#include <thread>

using Model = CDownloadListModel;

namespace {

QStringList RowTexts(const Model& model, int row)
{
    QStringList texts;
    for (int c = 0; c < Model::ColumnCount; ++c)
        texts << model.CellText(row, c);
    return texts;
}

} // namespace

// The Download List's rows: the texts of every operation, and workers writing at once.
class TestDownloadListModel final : public QObject {
    Q_OBJECT

private slots:
    void sizeText_data();
    void sizeText();
    void speedText_data();
    void speedText();
    void timeLeft_data();
    void timeLeft();
    void continuedTransferCountsItsRateFromWhereItWent();
    void keptRowsComeBackAsTheyWere();
    void downloadProgress_data();
    void downloadProgress();
    void rowThroughAConversion();
    void addJobRowReusesTheJobsRow();
    void isPathListed_data();
    void isPathListed();
    void operationsWithoutARowChangeNothing();
    void removedRowLeavesOnTheNextRefresh();
    void viewsLearnOfWorkerReportsInBatches();
    void concurrentWritersStayInTheirRows();
};

void TestDownloadListModel::sizeText_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << quint64(0) << "0KB";
    QTest::newRow("one byte") << quint64(1) << "1KB";
    QTest::newRow("1,024 bytes") << quint64(1024) << "1KB";
    QTest::newRow("1,025 bytes") << quint64(1025) << "1.0KB";
    QTest::newRow("exactly 1 MiB") << quint64(1048576) << "1024.0KB";
    QTest::newRow("1 MiB and a byte") << quint64(1048577) << "1.0MB";
    QTest::newRow("2 GiB") << quint64(2147483648u) << "2048.0MB";
    QTest::newRow("4 GiB less a byte") << quint64(4294967295u) << "4096.0MB";
}

void TestDownloadListModel::sizeText()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(Model::SizeText(bytes), text);
}

void TestDownloadListModel::speedText_data()
{
    QTest::addColumn<quint64>("received");
    QTest::addColumn<quint32>("elapsedMs");
    QTest::addColumn<QString>("text");

    QTest::newRow("below a byte per ms") << quint64(999) << 1001u << "1021Bytes/Sec";
    QTest::newRow("one byte per ms") << quint64(1001) << 1001u << "1.0KB/Sec";
    QTest::newRow("whole KB") << quint64(1536000) << 3000u << "512.0KB/Sec";
    QTest::newRow("rounded KB") << quint64(1000000) << 1500u << "666.7KB/Sec";
    QTest::newRow("MB") << quint64(2097152) << 1001u << "2.0MB/Sec";
}

void TestDownloadListModel::speedText()
{
    QFETCH(quint64, received);
    QFETCH(quint32, elapsedMs);
    QFETCH(QString, text);
    QCOMPARE(Model::SpeedText(received, elapsedMs), text);
}

void TestDownloadListModel::timeLeft_data()
{
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("received");
    QTest::addColumn<quint32>("elapsedMs");
    QTest::addColumn<QString>("tip"); // the row's tooltip

    QTest::newRow("seconds") << quint64(1000000) << quint64(250000) << 5000u << "Time left: 0:15";
    QTest::newRow("hours") << quint64(4000000000u) << quint64(1000000) << 1001u
                           << "Time left: 1:06:42";
    QTest::newRow("no rate yet: the cell's own text")
        << quint64(1000000) << quint64(250000) << 900u << "Downloading";
}

void TestDownloadListModel::timeLeft()
{
    QFETCH(quint64, total);
    QFETCH(quint64, received);
    QFETCH(quint32, elapsedMs);
    QFETCH(QString, tip);
    Model model;
    CDownloadThread job;
    model.AddJobRow(&job, QStringLiteral("a"), QStringLiteral("/a"));
    model.ShowDownloadProgress(&job, total, 0, 0);
    model.ShowDownloadProgress(&job, total, received, elapsedMs);
    QCOMPARE(model.index(0, Model::Status).data(Qt::ToolTipRole).toString(), tip);
}

void TestDownloadListModel::continuedTransferCountsItsRateFromWhereItWent()
{
    Model model;
    CDownloadThread job;
    model.AddJobRow(&job, QStringLiteral("a"), QStringLiteral("/a"));
    // Continued at 900,000 of 1,000,000 bytes; 50,000 more in 5 s is 10 bytes a millisecond.
    // A piece within the first millisecond says 0 ms too: it starts nothing.
    model.ShowDownloadProgress(&job, 1000000, 900000, 0);
    model.ShowDownloadProgress(&job, 1000000, 900512, 0);
    model.ShowDownloadProgress(&job, 1000000, 950000, 5000);
    QCOMPARE(model.CellText(0, Model::Speed), QStringLiteral("10.0KB/Sec"));
    QCOMPARE(model.index(0, Model::Speed).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Time left: 0:05"));
}

void TestDownloadListModel::keptRowsComeBackAsTheyWere()
{
    Model model;
    std::array<CDownloadThread, 3> jobs;
    jobs[1].m_bConvert = true;
    jobs[1].m_nFormat = 7;
    jobs[2].m_bConvert = true; // of no known format: converts as Xvid does
    // Jobs that have run (to nothing: they have no address yet) and ended.
    for (auto& job : jobs) {
        job.start();
        job.wait();
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].m_strUrl = QStringLiteral("http://127.0.0.1/get_video?video_id=%1").arg(i);
        model.AddJobRow(&jobs[i], QStringLiteral("n%1").arg(i), QStringLiteral("/v/n%1").arg(i));
        model.ShowDownloadProgress(&jobs[i], 4096, 2048, 1001);
    }
    model.ShowDownloadCompleted(&jobs[0]);
    model.ShowFailed(&jobs[1], QStringLiteral("ffmpeg /v/n1: exit status 1:\nUnknown encoder"));
    // The one still downloading has not ended, whatever its job did: it is not kept.
    const QList<CDownloadRecord> records = model.Records();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].status, int(IDS_COMPLETED));
    QCOMPARE(records[0].format, 0);
    QCOMPARE(records[0].url, jobs[0].m_strUrl);
    QCOMPARE(records[1].format, 7);
    QCOMPARE(records[1].reason, QStringLiteral("ffmpeg /v/n1: exit status 1: Unknown encoder"));
    QCOMPARE(model.RecordOf(2).format, 6);

    Model restored;
    for (const CDownloadRecord& record : records)
        restored.AddRecord(record);
    QCOMPARE(restored.Records(), records);
    for (int c = 0; c < Model::ColumnCount; ++c)
        QCOMPARE(restored.CellText(1, c), model.CellText(1, c));
    QCOMPARE(restored.JobOf(0), nullptr);
    QVERIFY(restored.IsPathListed(QStringLiteral("/V/N0")));
    QVERIFY(restored.CanRetry(1));
    QCOMPARE(restored.ClearCompleted(), 2);
}

void TestDownloadListModel::downloadProgress_data()
{
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("received");
    QTest::addColumn<quint32>("elapsedMs");
    QTest::addColumn<QStringList>("cells"); // Status, Progress, Size, Downloaded, Speed

    QTest::newRow("first report") << quint64(62914560) << quint64(0) << 0u
                                  << QStringList{"Downloading", "0%", "60.0MB", "0KB", ""};
    QTest::newRow("large file does not wrap")
        << quint64(62914560) << quint64(52428800) << 900u
        << QStringList{"Downloading", "83%", "60.0MB", "50.0MB", ""};
    QTest::newRow("over 2 GiB") << quint64(3221225472u) << quint64(2684354560u) << 900u
                                << QStringList{"Downloading", "83%", "3072.0MB", "2560.0MB", ""};
    QTest::newRow("exactly 1000 ms shows no speed")
        << quint64(4096) << quint64(2048) << 1000u
        << QStringList{"Downloading", "50%", "4.0KB", "2.0KB", ""};
    QTest::newRow("1001 ms shows the speed")
        << quint64(4096) << quint64(2048) << 1001u
        << QStringList{"Downloading", "50%", "4.0KB", "2.0KB", "2.0KB/Sec"};
    QTest::newRow("total 0 changes nothing")
        << quint64(0) << quint64(10) << 5000u << QStringList{"Starting", "", "", "", ""};
}

void TestDownloadListModel::downloadProgress()
{
    QFETCH(quint64, total);
    QFETCH(quint64, received);
    QFETCH(quint32, elapsedMs);
    QFETCH(QStringList, cells);

    Model model;
    CDownloadThread job;
    model.AddJobRow(&job, QStringLiteral("clip.flv"), QStringLiteral("/tmp/clip.flv"));
    model.ShowDownloadProgress(&job, total, received, elapsedMs);
    QCOMPARE(RowTexts(model, 0), QStringList{"clip.flv"} << cells << "/tmp/clip.flv");
}

void TestDownloadListModel::rowThroughAConversion()
{
    Model model;
    CDownloadThread job;
    model.AddJobRow(&job, QStringLiteral("clip.mp3"), QStringLiteral("/v/clip.mp3"));
    model.ShowDownloadProgress(&job, 2048, 1500, 1500);
    QCOMPARE(model.CellText(0, Model::Speed), QStringLiteral("1.0KB/Sec"));

    model.ShowDownloadCompleted(&job);
    QCOMPARE(RowTexts(model, 0),
             (QStringList{"clip.mp3", "Completed", "100%", "2.0KB", "1.5KB", "", "/v/clip.mp3"}));
    model.ShowConversionQueued(&job);
    QCOMPARE(model.CellText(0, Model::Status), QStringLiteral("Conversion Queued"));
    QCOMPARE(model.CellText(0, Model::Progress), QStringLiteral("0%"));
    model.ShowConversionProgress(&job, 0, 5); // no duration yet: nothing to show
    QCOMPARE(model.CellText(0, Model::Status), QStringLiteral("Conversion Queued"));
    model.ShowConversionProgress(&job, 212, 216);
    QCOMPARE(model.CellText(0, Model::Status), QStringLiteral("Converting"));
    QCOMPARE(model.CellText(0, Model::Progress), QStringLiteral("101%"));
    model.ShowConversionCompleted(&job);
    QCOMPARE(RowTexts(model, 0),
             (QStringList{"clip.mp3", "Completed", "100%", "2.0KB", "1.5KB", "", "/v/clip.mp3"}));
    model.ShowFailed(&job, QStringLiteral("reason"));
    QCOMPARE(model.CellText(0, Model::Status), QStringLiteral("Failed"));
}

void TestDownloadListModel::addJobRowReusesTheJobsRow()
{
    Model model;
    CDownloadThread other;
    CDownloadThread job;
    model.AddJobRow(&other, QStringLiteral("a"), QStringLiteral("/a"));
    model.AddJobRow(&job, QStringLiteral("b"), QStringLiteral("/b"));
    model.ShowDownloadProgress(&job, 4096, 2048, 2000);
    QSignalSpy inserted(&model, &Model::rowsInserted);

    model.AddJobRow(&job, QStringLiteral("c"), QStringLiteral("/c"));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(model.FindJobRow(&job), 1);
    QCOMPARE(RowTexts(model, 1),
             (QStringList{"c", "Starting", "50%", "4.0KB", "2.0KB", "1.0KB/Sec", "/c"}));
    // A report within the first second keeps the speed the row showed before.
    model.ShowDownloadProgress(&job, 4096, 100, 10);
    QCOMPARE(model.CellText(1, Model::Speed), QStringLiteral("1.0KB/Sec"));
}

void TestDownloadListModel::isPathListed_data()
{
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("found");

    QTest::newRow("A to Z fold") << "d:\\videos\\clip.FLV"
                                 << "D:\\Videos\\Clip.flv" << true;
    QTest::newRow("other letters do not fold") << "/v/\u00fcber.flv"
                                               << "/v/\u00dcber.flv" << false;
    QTest::newRow("different path") << "/v/a.flv"
                                    << "/v/a.flv.flv" << false;
}

void TestDownloadListModel::isPathListed()
{
    QFETCH(QString, listed);
    QFETCH(QString, asked);
    QFETCH(bool, found);

    Model model;
    QVERIFY(!model.IsPathListed(asked));
    CDownloadThread job;
    model.AddJobRow(&job, QStringLiteral("n"), listed);
    model.ShowDownloadCompleted(&job);
    QCOMPARE(model.IsPathListed(asked), found);
}

void TestDownloadListModel::operationsWithoutARowChangeNothing()
{
    Model model;
    CDownloadThread listed;
    CDownloadThread unlisted;
    model.AddJobRow(&listed, QStringLiteral("n"), QStringLiteral("/p"));
    const QStringList before = RowTexts(model, 0);
    model.ShowDownloadProgress(&unlisted, 10, 5, 5000);
    model.ShowDownloadCompleted(&unlisted);
    model.ShowConversionQueued(&unlisted);
    model.ShowConversionProgress(&unlisted, 10, 5);
    model.ShowConversionCompleted(&unlisted);
    model.ShowFailed(&unlisted, QStringLiteral("reason"));
    model.RemoveJobRow(&unlisted);
    model.Refresh();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(RowTexts(model, 0), before);
    QCOMPARE(model.FindJobRow(nullptr), -1);
}

void TestDownloadListModel::removedRowLeavesOnTheNextRefresh()
{
    Model model;
    std::array<CDownloadThread, 3> jobs;
    for (auto& job : jobs)
        model.AddJobRow(&job, QStringLiteral("n"), QStringLiteral("/p%1").arg(&job - jobs.data()));
    QSignalSpy removed(&model, &Model::rowsRemoved);

    std::thread worker([&] { model.RemoveJobRow(&jobs[1]); });
    worker.join();
    // Gone for every job at once, and from the view once the UI thread gets to it.
    QCOMPARE(model.FindJobRow(&jobs[1]), -1);
    QCOMPARE(model.FindJobRow(&jobs[2]), 2);
    QVERIFY(!model.IsPathListed(QStringLiteral("/p1")));
    QTRY_COMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.FindJobRow(&jobs[2]), 1);
    QCOMPARE(model.CellText(1, Model::FullPath), QStringLiteral("/p2"));
}

void TestDownloadListModel::viewsLearnOfWorkerReportsInBatches()
{
    Model model;
    std::array<CDownloadThread, 2> jobs;
    model.AddJobRow(&jobs[0], QStringLiteral("a"), QStringLiteral("/a"));
    model.AddJobRow(&jobs[1], QStringLiteral("b"), QStringLiteral("/b"));
    QSignalSpy changed(&model, &Model::dataChanged);

    std::thread worker([&] {
        for (quint64 received = 1; received <= 100000; ++received)
            model.ShowDownloadProgress(&jobs[1], 100000, received, 5);
    });
    worker.join();
    QTRY_VERIFY(!changed.isEmpty());
    // One batch told of every report so far: there is nothing left to tell.
    model.Refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].value<QModelIndex>().row(), 1);
    QCOMPARE(model.data(model.index(1, Model::Progress)).toString(), QStringLiteral("100%"));
    QCOMPARE(model.data(model.index(1, Model::Progress), Model::PercentRole).toInt(), 100);
}

void TestDownloadListModel::concurrentWritersStayInTheirRows()
{
    // Half the jobs report until the end; the other half report and then remove their rows as
    // cancelled jobs do, while the UI thread erases rows. Every write must land in its own row.
    constexpr int kJobs = 8;
    Model model;
    std::array<CDownloadThread, kJobs> jobs;
    for (int i = 0; i < kJobs; ++i)
        model.AddJobRow(&jobs[i], QStringLiteral("job%1").arg(i), QStringLiteral("/p%1").arg(i));

    std::atomic<int> running = kJobs;
    std::vector<std::thread> workers;
    for (int i = 0; i < kJobs; ++i) {
        workers.emplace_back([&, i] {
            const quint64 total = quint64(i + 2) * 1048576;
            for (quint64 received = 0; received <= 20000; ++received)
                model.ShowDownloadProgress(&jobs[i], total, received * 7 + quint64(i), 2000);
            if (i % 2)
                model.RemoveJobRow(&jobs[i]);
            --running;
        });
    }
    while (running > 0) {
        model.Refresh();
        QCoreApplication::processEvents();
    }
    for (auto& w : workers)
        w.join();
    model.Refresh();

    QCOMPARE(model.rowCount(), kJobs / 2);
    for (int i = 0; i < kJobs; ++i) {
        const int row = model.FindJobRow(&jobs[i]);
        if (i % 2) {
            QCOMPARE(row, -1);
            continue;
        }
        QCOMPARE(model.CellText(row, Model::FileName), QStringLiteral("job%1").arg(i));
        QCOMPARE(model.CellText(row, Model::Size), Model::SizeText(quint64(i + 2) * 1048576));
        QCOMPARE(model.CellText(row, Model::Downloaded), Model::SizeText(20000 * 7 + quint64(i)));
    }
}

QTEST_GUILESS_MAIN(TestDownloadListModel)
#include "tst_downloadlistmodel.moc"
