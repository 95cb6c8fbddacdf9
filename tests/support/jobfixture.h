#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

class CDownloadThread;
class COutputWnd;

// Starts a job as the Download Video command does: inputs set, row added, then the thread,
// owned by the pane from then on. format 0 keeps the FLV; 1 to 7 convert.
QPointer<CDownloadThread> StartJob(COutputWnd& pane, const QString& url, const QString& path,
                                   int format = 0, const QString& converterFolder = {});

// The job's Status, Progress, Size, Downloaded and Speed cells; empty texts once it has no row.
QStringList JobCells(const COutputWnd& pane, const CDownloadThread* job);

// A file's bytes; empty when it cannot be read.
QByteArray ReadWholeFile(const QString& path);
