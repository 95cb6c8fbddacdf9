#pragma once

#include "net/filedownload.h"

#include <QString>
#include <QThread>

#include <atomic>

class CJobRows;

// One download job and the worker thread that runs it: an HTTP transfer into the target file,
// or into the intermediate ".flv" file that the converter then turns into the target. Create
// it, set the inputs, add its row, then start() it; the inputs are not written again after
// that. Conversions run one at a time in the whole program.
class CDownloadThread final : public QThread {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDownloadThread)

public:
    static constexpr int kWorkerNice = 10;
    // No byte for this long ends the transfer "Failed", so that a silent server does not leave
    // the row waiting for ever.
    static constexpr int kStallLimitMs = 60000;

    explicit CDownloadThread(QObject* parent = nullptr);
    // Stops the job (see RequestStop) and waits for the thread.
    ~CDownloadThread() override;

    // Set by the user interface to stop the transfer; the worker sees it within about a second,
    // also while the server sends nothing.
    std::atomic<bool> m_bCancel{false};
    // Set by the user interface to stop the transfer but keep the row and the file, so that the
    // job can be started again where it stopped.
    std::atomic<bool> m_bPause{false};

    QString m_strUrl;
    QString m_strPath;
    // The Download List's rows, which the job reports into; set by the pane that starts it.
    // None: the job reports nowhere.
    CJobRows* m_pOutputWnd = nullptr;
    bool m_bConvert = false;
    int m_nFormat = 0;
    // The folder that holds the converter: the program's own, worked out here on the creating
    // (user-interface) thread, since Qt's application folder is not safe to ask for first from
    // a worker. Tests point it elsewhere.
    QString m_strConverterFolder;
    // The stall limit of this job's transfer; tests shorten it.
    int m_nStallLimitMs = kStallLimitMs;

    // What an earlier run left in TransferPath(): the bytes it wrote there, the length of the
    // whole body, and what identified that version of the body. A run continues that file only
    // while it still holds exactly those bytes; a conversion job whose file is whole converts
    // it without fetching it again. Kept by the worker; set by the user interface only for a
    // job it makes for a row kept from an earlier session.
    quint64 m_nKept = 0;
    quint64 m_nKeptTotal = 0;
    QByteArray m_strKeptValidator;

    // Runs the whole job on the worker thread; false when it could not do its work.
    bool InitInstance();
    int ExitInstance();
    // Turns the intermediate file into the target with the converter; false when the
    // converter could not be started, failed, or was stopped. The converter writes under
    // another name beside the target, which the file takes only once the converter succeeded.
    bool ConvertVideo();

    // For the program's end: stops the transfer, and a running converter, as soon as possible.
    // What was written so far stays on disk; the row is not touched any more.
    void RequestStop();
    // Makes a job that has ended ready to run again, for the same address and target and into
    // the same row: start() it afterwards.
    void PrepareRestart();

    // The file the transfer writes: the target, or the intermediate file before a conversion.
    QString TransferPath() const;

    // After the thread has finished: what InitInstance returned, and why it failed.
    bool Succeeded() const { return m_bSucceeded; }
    QString ErrorText() const { return m_strError; }
    // True once run() has returned; unlike isFinished() it is already true when finished()
    // reaches another thread.
    bool HasEnded() const { return m_bEnded.load(std::memory_order_acquire); }

protected:
    void run() override;

private:
    // Fetches the address into TransferPath(), reporting every piece into the row.
    CFileDownload::Result TransferFile();
    // The rows to report into; reports go nowhere while the job has none.
    CJobRows& Rows() const;
    // Ends a stage as failed: keeps the reason and marks the row. Returns false.
    bool Fail(QString reason);

    bool Stopping() const { return m_bStop.load(std::memory_order_relaxed); }

    std::atomic<bool> m_bStop{false};
    bool m_bSucceeded = false;
    QString m_strError;
    std::atomic<bool> m_bEnded{false};
};
