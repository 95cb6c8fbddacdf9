// A stand-in for the program in tests that kill it: runs one download job that converts to MP3,
// as the program does, and prints "converting" once the converter has told the video's length.
// Usage: conversionjob URL TARGET CONVERTER_FOLDER. Exits 0 when the job succeeded.

#include "engine/downloadthread.h"
#include "engine/jobrows.h"
#include "engine/outputformat.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>

namespace {

// Says once on standard output that the conversion runs; every other report is dropped.
class CConvertingNotice final : public CJobRows {
public:
    void ShowDownloadProgress(const CDownloadThread*, quint64, quint64, quint32) override {}
    void ShowDownloadCompleted(const CDownloadThread*) override {}
    void ShowConversionQueued(const CDownloadThread*) override {}
    void ShowConversionProgress(const CDownloadThread*, quint32, quint32) override
    {
        if (!m_told.exchange(true)) {
            std::fputs("converting\n", stdout);
            std::fflush(stdout);
        }
    }
    void ShowConversionCompleted(const CDownloadThread*) override {}
    void ShowFailed(const CDownloadThread*, const QString&) override {}
    void ShowPaused(const CDownloadThread*) override {}
    void RemoveJobRow(const CDownloadThread*) override {}

private:
    std::atomic<bool> m_told{false};
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: conversionjob URL TARGET CONVERTER_FOLDER\n", stderr);
        return 2;
    }
    CConvertingNotice rows;
    CDownloadThread job;
    job.m_strUrl = arguments[1];
    job.m_strPath = arguments[2];
    job.m_strConverterFolder = arguments[3];
    job.m_bConvert = true;
    job.m_nFormat = int(OutputFormat::Mp3);
    job.m_pOutputWnd = &rows;
    job.start();
    job.wait();
    return job.Succeeded() ? 0 : 1;
}
