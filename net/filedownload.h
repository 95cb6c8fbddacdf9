#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// One GET of url whose body goes into the file path: the file is created (or emptied) only
// once the final response is known to be a body of known length, then every piece is counted,
// reported and written, and the writes are gathered into large blocks. The download job and the
// converter download both fetch through it, each with its own rules.
class CFileDownload final {
public:
    static constexpr qsizetype kPieceSize = 512;
    static constexpr char kUserAgent[] = "Quillmoor";

    // What the download came to: how it ended, and the failing value in words.
    struct Result {
        enum class Status {
            Completed, // the whole body, as long as its Content-Length said, is in the file
            Stopped,   // the caller asked it to stop
            NoAnswer,  // no final response came: no connection, a bad address, silence
            Refused,   // the final response's status was one the caller does not take
            NoLength,  // the final response gave no Content-Length
            FileError, // the file could not be created or written
            CutShort,  // the body ended, or stalled, before its length was reached
        };

        Status status = Status::NoAnswer;
        // Names what failed: the address with its status or the network's error, or the file with
        // the system's reason. Empty for Completed and Stopped.
        QString reason;
        quint64 total = 0;       // the whole body's length, once known
        quint64 received = 0;    // bytes of the body in the file, those kept from before included
        bool fileOpened = false; // the file was created, emptied or continued
        // What identifies this version of the body, for a later continuation: its ETag, else
        // its Last-Modified date.
        QByteArray validator;

        bool Completed() const { return status == Status::Completed; }
    };

    QString url;
    QString path;
    // Whether a final status of 400 or more, or a part (206) of a body that was asked for whole,
    // is refused (no file) rather than saved as the body.
    bool refuseErrorStatus = false;
    // No byte for this long ends the download CutShort (NoAnswer before the head); 0: no limit.
    long stallLimitMs = 0;
    // Called once with received 0 when the file has been created, then after every piece is
    // counted and before it is written.
    std::function<void(quint64 total, quint64 received)> progress;
    // Called once for every read from the network, before its pieces are reported: the pieces of
    // one read arrive at one moment, so a caller that times them needs the clock only here.
    std::function<void()> read;
    // Asked before every piece, and about once a second while the server is silent.
    std::function<bool()> stopped;

    // Continues a file of which this many bytes are there already: asks for the rest, and
    // appends it only when the server answers with exactly that rest of a body of length
    // expectedTotal (0: any) and, given a validator, of the same version. Any other answer
    // (the whole body, a range refused) starts the file again from its beginning.
    quint64 resumeFrom = 0;
    quint64 expectedTotal = 0;
    QByteArray validator;

    Result Run() const;

private:
    // One request; none when the server would not continue the file and the caller should
    // start it again.
    std::optional<Result> Attempt(quint64 from) const;
};
