// libFuzzer target for the converter's console output: any bytes, cut into chunks of 1 to 1024
// bytes (the sizes taken from the input's end) and decoded as the conversion stage reads them.
// A crash, a sanitizer report or reports that break the parser's promises are a finding.

#include "engine/conversionprogress.h"

#include <QByteArray>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool promise)
{
    if (!promise)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    CConversionProgress progress;
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(1, 1024);
        const std::string bytes = input.ConsumeBytesAsString(length);
        const QString chunk = QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
        const quint32 position = progress.Position();
        const QList<CConversionProgress::Report> reports = progress.Feed(chunk);
        // One report, or a duration's first report at 0 before it; both carry the position
        // of earlier chunks, the new one shows with the next.
        Check(reports.size() == 1 || reports.size() == 2);
        Check(reports.size() == 1 ||
              (reports.front() == CConversionProgress::Report{progress.Duration(), 0}));
        Check(reports.back() == (CConversionProgress::Report{progress.Duration(), position}));
        Check(reports.size() == 2 || chunk.indexOf(u"Duration: ") < 0);
        Check(progress.Position() == position || chunk.contains(u"time="));
    }
    return 0;
}
