#pragma once

#include <QString>

// Writes a real Flash Video file of the given length (Sorenson video and MP3 audio, as the
// site serves) with the system's ffmpeg. Returns an empty string, or what went wrong.
QString MakeFlvFixture(const QString& path, int seconds);

// The length ffprobe reads from a media file, in seconds; negative when it cannot.
double ProbeDuration(const QString& path);
