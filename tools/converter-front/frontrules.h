#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How the converter front turns the program's preset command lines into options that today's
// ffmpeg accepts, and ffmpeg's progress times into the seconds the program reads.
namespace FrontRules {

using Arguments = std::vector<std::string>;
using HasEncoder = std::function<bool(std::string_view)>;

// Whether the arguments name an encoder whose availability the mapping depends on, so that
// asking ffmpeg for its encoder list can be skipped otherwise.
bool NeedsEncoderList(const Arguments& presetArguments);

// The arguments for today's ffmpeg: bit rates without a unit below 1000 are kbit/s, -qscale is
// -q:v, the old codec options are -c:v and -c:a, xvid is libxvid (or mpeg4 tagged XVID), and a
// 3GP file gets AAC audio when this ffmpeg has no AMR-NB encoder. -nostdin comes first: the
// program's standard input is a pipe that carries no commands.
Arguments MapArguments(const Arguments& presetArguments, const HasEncoder& hasEncoder);

// The file ffmpeg writes: the last argument, unless it is an option, the value of -i, an input
// or standard output ("-"). Empty when there is none.
std::string OutputPath(const Arguments& presetArguments);

// Rewrites every "time=HH:MM:SS.cc" in text as "time=" and the seconds, keeping the fraction;
// everything else stays as it is.
std::string RewriteTimes(std::string_view text);

} // namespace FrontRules
