#pragma once

#include <QString>

// The program's user-visible words, looked up by their resource number.
enum StringId : int {
    IDS_OLE_INIT_FAILED = 100,
    IDS_NO_VIDEO_FOUND = 101,
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
    IDS_ALREADY_LISTED = 112,
    IDS_SELECT_VIDEO_FIRST = 113,
    IDS_NEW_UPDATE = 114,
    IDS_CONFIRM_CANCEL = 115,
    IDS_CANCELLING = 116,
    IDS_TARGET_IS_FOLDER = 117, // %1: the path
    IDS_CONVERTING = 118,
    IDS_CONVERSION_COMPLETED = 119,
    IDS_CONVERSION_QUEUED = 120,
    IDS_FAILED = 121,
    IDS_FOLDER_MISSING = 122,  // %1: the folder
    IDS_CONFIRM_REPLACE = 123, // %1: the file's name
    IDS_TOOLBAR_STANDARD = 124,
    IDS_TOOLBAR_CUSTOMIZE = 125,
    IDS_CONVERTER_FOLDER_NOT_WRITABLE = 126, // %1: the folder, %2: the system's reason
    IDS_PAUSED = 127,
    IDR_QUILLMOOR = 128,
    IDS_WINDOWS_MANAGER = 132,
    IDS_OUTPUT_WND = 157,
    IDS_DOWNLOAD_TAB = 300,
    // Command prompts: the status-bar text, a line break, then the tooltip.
    ID_VIEW_BACK = 32795,
    ID_VIEW_FORWARD = 32796,
    ID_VIEW_STOP = 32797,
    ID_VIEW_REFRESH = 32798,
    ID_FILE_DOWNLOAD_VIDEO = 32799,
    AFX_IDS_IDLEMESSAGE = 57345,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT = 57607,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
    ID_INDICATOR_SCRL = 59139,
    ID_VIEW_STATUS_BAR = 59393,
};

// The text of a string resource; empty for a number the table does not hold.
QString LoadResString(int id);
