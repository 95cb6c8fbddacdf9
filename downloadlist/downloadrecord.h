#pragma once

#include <QString>

#include <optional>

// A row of the Download List as it is kept between runs: a finished or failed job, with what
// its cells showed and what it takes to start it again.
struct CDownloadRecord {
    QString name;   // the File Name cell
    QString path;   // the Full Path cell: the target file
    QString url;    // the address the job fetched
    int format = 0; // the job's output format: 0 keeps the FLV, 1 to 7 convert
    int status = 0; // the Status cell's string id: Completed (111 or 119) or Failed (121)
    std::optional<qint64> percent;   // the Progress cell's number, if it showed one
    std::optional<quint64> total;    // the Size cell's byte count, if it showed one
    std::optional<quint64> received; // the Downloaded cell's byte count, if it showed one
    QString reason;                  // why a failed job failed, in one line; empty otherwise

    friend bool operator==(const CDownloadRecord&, const CDownloadRecord&) = default;
};
