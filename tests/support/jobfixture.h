#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class CDownloadListModel;
class CDownloadThread;
class COutputWnd;

// A job with its inputs set as the Download Video command sets them: format 0 keeps the FLV,
// 1 to 7 convert; an empty converterFolder keeps the program's own.
std::unique_ptr<CDownloadThread> MakeJob(const QString& url, const QString& path, int format = 0,
                                         const QString& converterFolder = {});

// Hands the job to the pane, which adds its row and starts it, and owns it from then on.
QPointer<CDownloadThread> StartJob(COutputWnd& pane, std::unique_ptr<CDownloadThread> job);
QPointer<CDownloadThread> StartJob(COutputWnd& pane, const QString& url, const QString& path,
                                   int format = 0, const QString& converterFolder = {});

// Starts the job reporting into rows without a pane: its row is added first, as the pane does.
// The caller keeps the job; destroying it stops the job and waits for it.
void StartJob(CDownloadListModel& rows, CDownloadThread& job);

// The job's Status, Progress, Size, Downloaded and Speed cells; empty texts once it has no row.
QStringList JobCells(const CDownloadListModel& rows, const CDownloadThread* job);
QStringList JobCells(const COutputWnd& pane, const CDownloadThread* job);

// A file's bytes; empty when it cannot be read.
QByteArray ReadWholeFile(const QString& path);
