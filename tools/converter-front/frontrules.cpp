#include "frontrules.h"

#include <algorithm>
#include <cctype>

namespace FrontRules {

namespace {

bool AllDigits(std::string_view s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Old ffmpeg read a bare bit rate below 1000 as kbit/s; today's reads bit/s.
std::string KbitPerSecond(const std::string& value)
{
    if (AllDigits(value) && value.size() <= 3)
        return value + "k";
    return value;
}

std::string LowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string ValueOf(const Arguments& arguments, std::string_view option)
{
    const auto it = std::find(arguments.begin(), arguments.end(), option);
    return it != arguments.end() && it + 1 != arguments.end() ? *(it + 1) : std::string();
}

bool Is3gp(const Arguments& arguments)
{
    const std::string format = ValueOf(arguments, "-f");
    const std::string extension =
        arguments.empty() ? std::string() : LowerExtension(arguments.back());
    return format == "3gp" || format == "3g2" ||
           (format.empty() && (extension == "3gp" || extension == "3g2"));
}

// Reads digits at text[at...]; false when there are none.
bool ReadNumber(std::string_view text, size_t& at, long long& value)
{
    const size_t start = at;
    value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) &&
           at - start < 12)
        value = value * 10 + (text[at++] - '0');
    return at > start;
}

} // namespace

bool NeedsEncoderList(const Arguments& presetArguments)
{
    return ValueOf(presetArguments, "-vcodec") == "xvid" || Is3gp(presetArguments);
}

Arguments MapArguments(const Arguments& in, const HasEncoder& hasEncoder)
{
    Arguments out{"-nostdin"};
    bool audioCodecGiven = false;
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& option = in[i];
        const bool hasValue = i + 1 < in.size();
        if (option == "-b" && hasValue) {
            out.insert(out.end(), {"-b:v", KbitPerSecond(in[++i])});
        } else if (option == "-ab" && hasValue) {
            out.insert(out.end(), {"-b:a", KbitPerSecond(in[++i])});
        } else if (option == "-qscale" && hasValue) {
            out.insert(out.end(), {"-q:v", in[++i]});
        } else if (option == "-acodec" && hasValue) {
            audioCodecGiven = true;
            out.insert(out.end(), {"-c:a", in[++i]});
        } else if (option == "-vcodec" && hasValue) {
            const std::string codec = in[++i];
            if (codec != "xvid")
                out.insert(out.end(), {"-c:v", codec});
            else if (hasEncoder("libxvid"))
                out.insert(out.end(), {"-c:v", "libxvid"});
            else
                out.insert(out.end(), {"-c:v", "mpeg4", "-vtag", "XVID"});
        } else {
            out.push_back(option);
        }
    }
    // The 3GP muxer defaults to AMR-NB audio, which many builds leave out.
    if (!audioCodecGiven && Is3gp(in) && !hasEncoder("libopencore_amrnb") &&
        !hasEncoder("amr_nb")) {
        out.insert(out.end() - (in.empty() ? 0 : 1), {"-c:a", "aac"});
    }
    return out;
}

std::string RewriteTimes(std::string_view text)
{
    static constexpr std::string_view kMarker = "time=";
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    for (size_t at = text.find(kMarker); at != std::string_view::npos;
         at = text.find(kMarker, at)) {
        at += kMarker.size();
        size_t p = at;
        const bool negative = p < text.size() && text[p] == '-';
        if (negative)
            ++p;
        long long h = 0, m = 0, s = 0;
        if (!ReadNumber(text, p, h) || p >= text.size() || text[p] != ':')
            continue;
        ++p;
        if (!ReadNumber(text, p, m) || p >= text.size() || text[p] != ':')
            continue;
        ++p;
        if (!ReadNumber(text, p, s))
            continue;
        out.append(text.substr(copied, at - copied));
        if (negative)
            out.push_back('-');
        out.append(std::to_string(h * 3600 + m * 60 + s));
        copied = p; // the fraction, if any, follows as it was
        at = p;
    }
    out.append(text.substr(copied));
    return out;
}

std::string OutputPath(const Arguments& presetArguments)
{
    if (presetArguments.empty())
        return {};
    const std::string& last = presetArguments.back();
    if (last.empty() || last.front() == '-')
        return {};
    for (size_t i = 0; i + 1 < presetArguments.size(); ++i) {
        if (presetArguments[i] == "-i" && presetArguments[i + 1] == last)
            return {};
    }
    return last;
}

} // namespace FrontRules
