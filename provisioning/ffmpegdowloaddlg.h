#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

// Fetches the converter archive from the maker's server once, checks it is the maker's, and
// unpacks it into the program's folder. Ends with Accepted only when all of that succeeded.
// The work runs on a worker thread that reports through a relay object, never to the dialog
// itself, so closing the dialog at any moment is safe; the worker then stops.
class CFfmpegDowloadDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CFfmpegDowloadDlg)

public:
    static constexpr char kChecksumVariable[] = "QUILLMOOR_CONVERTER_SHA256";

    // folder is where the converter goes: the program's folder unless a caller says otherwise.
    explicit CFfmpegDowloadDlg(QWidget* parent = nullptr, const QString& folder = {});
    ~CFfmpegDowloadDlg() override;

    void ShowStatus(const QString& text, int percent);
    // The SHA-256 (hex) the archive must have: the environment's, else the build's.
    static QString ExpectedChecksum();

    QString m_strZipPath;
    QString m_strUrl;

    QPushButton* DownloadButton() const { return m_pDownload; }
    QString StatusText() const;
    QString PercentText() const;

    // Ends the dialog and stops its worker.
    void done(int result) override;

private:
    struct Job;

    void Stop();
    void OnDownload();
    // Whether the archive can be made in the folder; says which folder it cannot, and why.
    bool FolderTakesTheArchive();
    void OnStopped(const QString& status, const QString& message);

    QString m_strFolder;
    QProgressBar* m_progress = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pPercent = nullptr;
    QPushButton* m_pDownload = nullptr;
    std::shared_ptr<Job> m_job;
};
