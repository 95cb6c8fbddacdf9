// The conversion stage of a job against running the same converter command directly, for the
// MP3 and iPhone presets on a 60-second FLV. Not a test: it prints figures.

#include "engine/converter.h"
#include "engine/downloadthread.h"
#include "engine/jobrows.h"
#include "engine/outputformat.h"
#include "tests/support/flvfixture.h"
#include "tests/support/scriptedhttpserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 3;
constexpr int kSeconds = 60;

// Times the conversion stage: from "Conversion Queued" to the stage's last report.
class StageClock final : public CJobRows {
public:
    void ShowDownloadProgress(const CDownloadThread*, quint64, quint64, quint32) override {}
    void ShowDownloadCompleted(const CDownloadThread*) override {}
    void ShowConversionQueued(const CDownloadThread*) override { m_clock.start(); }
    void ShowConversionProgress(const CDownloadThread*, quint32, quint32) override {}
    void ShowConversionCompleted(const CDownloadThread*) override { m_ns = m_clock.nsecsElapsed(); }
    void ShowFailed(const CDownloadThread*, const QString&) override { m_ns = -1; }
    void ShowPaused(const CDownloadThread*) override {}
    void RemoveJobRow(const CDownloadThread*) override {}
    qint64 Nanoseconds() const { return m_ns; }

private:
    QElapsedTimer m_clock;
    std::atomic<qint64> m_ns{-1};
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

qint64 JobRound(const QString& url, const QString& path, int format, const QString& folder)
{
    StageClock clock;
    CDownloadThread job;
    job.m_strUrl = url;
    job.m_strPath = path;
    job.m_pOutputWnd = &clock;
    job.m_bConvert = true;
    job.m_nFormat = format;
    job.m_strConverterFolder = folder;
    job.start();
    job.wait();
    if (clock.Nanoseconds() < 0)
        qFatal("the job failed: %s", qPrintable(job.ErrorText()));
    return clock.Nanoseconds();
}

qint64 DirectRound(const QString& input, const QString& path, int format, const QString& folder)
{
    QElapsedTimer clock;
    clock.start();
    QProcess converter;
    converter.setProcessChannelMode(QProcess::MergedChannels);
    converter.start(folder + QStringLiteral("/ffmpeg"),
                    Converter::PresetArguments(format, input, path));
    converter.waitForFinished(-1);
    converter.readAll();
    if (converter.exitCode() != 0)
        qFatal("the converter failed");
    return clock.nsecsElapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/../app");
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("input.flv"));
    if (const QString error = MakeFlvFixture(input, kSeconds); !error.isEmpty())
        qFatal("%s", qPrintable(error));
    QFile file(input);
    file.open(QIODevice::ReadOnly);
    CScriptedHttpServer server;
    server.Route("/get_video", CScriptedHttpServer::Ok(file.readAll()));

    std::vector<double> ratios;
    for (const auto& [format, name, extension] :
         {std::tuple{int(OutputFormat::Mp3), "MP3", "mp3"},
          std::tuple{int(OutputFormat::IPhone), "iPhone", "mp4"}}) {
        for (int round = 1; round <= kRounds; ++round) {
            const QString out = dir.filePath(QStringLiteral("out.") + QLatin1String(extension));
            const double direct = double(DirectRound(input, out, format, folder)) / 1e9;
            QFile::remove(out);
            const double job =
                double(JobRound(server.Url("/get_video"), out, format, folder)) / 1e9;
            QFile::remove(out);
            ratios.push_back(job / direct);
            std::printf("%s round %d: direct %.2f s, job %.2f s, ratio %.3f\n", name, round, direct,
                        job, job / direct);
            std::fflush(stdout);
        }
    }
    std::printf("conversion ratio job/direct: %.3f\n", Median(ratios));
    return 0;
}
