#include "tests/support/flvfixture.h"

#include <QProcess>

QString MakeFlvFixture(const QString& path, int seconds)
{
    const QString length = QString::number(seconds);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    // clang-format off
    ffmpeg.start(QStringLiteral("/usr/bin/ffmpeg"),
                 {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc=duration=" + length + ":size=320x240:rate=25", "-f", "lavfi", "-i",
                  "sine=frequency=440:sample_rate=22050:duration=" + length, "-c:v", "flv1",
                  "-c:a", "libmp3lame", "-b:a", "64k", "-shortest", path});
    // clang-format on
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0)
        return QStringLiteral("ffmpeg could not write %1: %2")
            .arg(path, QString::fromLocal8Bit(ffmpeg.readAll()));
    return {};
}

double ProbeDuration(const QString& path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration",
                                            "-of", "default=nw=1:nk=1", path});
    if (!probe.waitForFinished(60000) || probe.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}
