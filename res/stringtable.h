#pragma once

#include <QString>

// The program's user-visible words, looked up by their resource number.
enum StringId : int {
    IDS_FILE_NAME = 102,
    IDS_SIZE = 103,
    IDS_DOWNLOADED = 104,
    IDS_FULL_PATH = 105,
    IDS_STATUS = 106,
    IDS_SPEED = 107,
    IDS_PROGRESS = 108,
    IDS_STARTING = 109,
    IDS_DOWNLOADING = 110,
    IDS_COMPLETED = 111,
    IDS_SELECT_VIDEO_FIRST = 113,
    IDS_CONFIRM_CANCEL = 115,
    IDS_CANCELLING = 116,
    IDS_CONVERTING = 118,
    IDS_CONVERSION_COMPLETED = 119,
    IDS_CONVERSION_QUEUED = 120,
    IDS_FAILED = 121,
    IDS_DOWNLOAD_TAB = 300,
};

// The text of a string resource; empty for a number the table does not hold.
QString LoadResString(int id);
