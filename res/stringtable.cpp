#include "res/stringtable.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
    int id;
    const char16_t* text;
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {IDS_FILE_NAME, u"File Name"},
    {IDS_SIZE, u"Size"},
    {IDS_DOWNLOADED, u"Downloaded"},
    {IDS_FULL_PATH, u"Full Path"},
    {IDS_STATUS, u"Status"},
    {IDS_SPEED, u"Speed"},
    {IDS_PROGRESS, u"Progress"},
    {IDS_STARTING, u"Starting"},
    {IDS_DOWNLOADING, u"Downloading"},
    {IDS_COMPLETED, u"Completed"},
    {IDS_SELECT_VIDEO_FIRST, u"Please select a video first."},
    {IDS_CONFIRM_CANCEL, u"Are you sure you want to cancel the selected download(s)?"},
    {IDS_CANCELLING, u"Cancelling"},
    {IDS_CONVERTING, u"Converting"},
    {IDS_CONVERSION_COMPLETED, u"Completed"},
    {IDS_CONVERSION_QUEUED, u"Conversion Queued"},
    {IDS_FAILED, u"Failed"},
    {IDS_DOWNLOAD_TAB, u"Download"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

} // namespace

QString LoadResString(int id)
{
    const auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                     [](const Entry& e, int wanted) { return e.id < wanted; });
    if (it == std::end(kStrings) || it->id != id)
        return {};
    return QString::fromUtf16(it->text);
}
