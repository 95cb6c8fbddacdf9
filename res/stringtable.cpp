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
    {IDS_OLE_INIT_FAILED,
     u"OLE initialization failed.  Make sure that the OLE libraries are the correct version."},
    {IDS_NO_VIDEO_FOUND,
     u"Can not find video to download. Please choose a video on YouTube first."},
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
    {IDS_ALREADY_LISTED, u"The video is already in your download list"},
    {IDS_SELECT_VIDEO_FIRST, u"Please select a video first."},
    {IDS_NEW_UPDATE,
     u"New update is available. Do you want to go to Norvane and download the latest version now?"},
    {IDS_CONFIRM_CANCEL, u"Are you sure you want to cancel the selected download(s)?"},
    {IDS_CANCELLING, u"Cancelling"},
    {IDS_TARGET_IS_FOLDER, u"%1\nThis is a folder. Choose another name."},
    {IDS_CONVERTING, u"Converting"},
    {IDS_CONVERSION_COMPLETED, u"Completed"},
    {IDS_CONVERSION_QUEUED, u"Conversion Queued"},
    {IDS_FAILED, u"Failed"},
    {IDS_FOLDER_MISSING,
     u"%1\nThis folder does not exist. Choose a folder that exists and try again."},
    {IDS_CONFIRM_REPLACE, u"%1 already exists.\nDo you want to replace it?"},
    {IDS_TOOLBAR_STANDARD, u"Standard"},
    {IDS_TOOLBAR_CUSTOMIZE, u"Customize..."},
    {IDS_CONVERTER_FOLDER_NOT_WRITABLE,
     u"The conversion program cannot be saved in this folder:\n%1\n%2"},
    {IDS_PAUSED, u"Paused"},
    {IDR_QUILLMOOR, u"Quillmoor"},
    {IDS_WINDOWS_MANAGER, u"Windows..."},
    {IDS_OUTPUT_WND, u"Download List"},
    {IDS_DOWNLOAD_TAB, u"Download"},
    {ID_VIEW_BACK, u"Go to the previous page\nGo back"},
    {ID_VIEW_FORWARD, u"Go to the next page\nGo forward"},
    {ID_VIEW_STOP, u"Stop the current page from loading\nStop"},
    {ID_VIEW_REFRESH, u"Refresh the contents of the current page\nRefresh"},
    {ID_FILE_DOWNLOAD_VIDEO, u"Download the video\nDownload"},
    {AFX_IDS_IDLEMESSAGE, u"Ready"},
    {ID_FILE_NEW, u"Open a new YouTube Tab\nNew"},
    {ID_FILE_OPEN, u"Open an existing document\nOpen"},
    {ID_FILE_CLOSE, u"Close the active document\nClose"},
    {ID_FILE_SAVE, u"Save the active document\nSave"},
    {ID_FILE_PRINT, u"Print the active document\nPrint"},
    {ID_APP_ABOUT, u"Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, u"Quit the application; prompts to save documents\nExit"},
    {ID_INDICATOR_CAPS, u"CAP"},
    {ID_INDICATOR_NUM, u"NUM"},
    {ID_INDICATOR_SCRL, u"SCRL"},
    {ID_VIEW_STATUS_BAR, u"Show or hide the status bar\nToggle Status Bar"},
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
