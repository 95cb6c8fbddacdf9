#pragma once

#include <QString>

#include <functional>

// Downloads url into the file path with GET, reporting the percent received after every
// 512-byte piece (100 once the Content-Length is reached, and at the end). Returns a result
// code of CHttpAgentException: 0, 6 (not opened), 7 (no length), 8 (network failure, also a
// body cut short or a stop asked for), 9 (file). stopped is asked after every piece and while
// the server is silent.
int HttpDownloadFile(const QString& url, const QString& path,
                     const std::function<void(int percent)>& progress = {},
                     const std::function<bool()>& stopped = {});
