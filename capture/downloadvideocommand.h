#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class CDownloadThread;
class COutputWnd;
class QWidget;

// The Download Video command: from the video page shown in a browser tab to a running job in
// the Download List. It reads the page, asks for the target and its type in "Save Video As",
// fetches the converter when a conversion needs it, then hands the job to the pane. Runs on
// the user-interface thread, one run at a time in the whole program.
class CDownloadVideoCommand final {
public:
    // The dialog's file types: description and pattern, "|" after each.
    static constexpr char16_t kFilterList[] =
        u"Flash Video (*.flv)|*.flv|iPod Video (*.mov)|*.mov|iPhone Video (*.mp4)|*.mp4|"
        u"PSP H.264 (*.mp4)|*.mp4|Cell Phone (*.3gp)|*.3gp|Windows Media Video (*.wmv)|*.wmv|"
        u"Xvid MPEG-4 (*.avi)|*.avi|MP3 (*.mp3)|*.mp3|";
    static constexpr char kDialogTitle[] = "Save Video As";
    // The longest name one file system entry may have, in bytes of UTF-8.
    static constexpr qsizetype kNameMaxBytes = 255;
    static constexpr char kLastFolderKey[] = "DownloadVideo/lastFolder";

    // tab is the browser tab's view and readPage gives its page's HTML (empty when there is
    // none); it may run the event loop, during which the tab may close.
    CDownloadVideoCommand(QWidget& tab, COutputWnd& pane, std::function<QString()> readPage);

    // Where the converter is looked for, and fetched to when missing: the program's folder
    // unless set.
    void SetConverterFolder(const QString& folder) { m_strConverterFolder = folder; }

    // Runs the command. Returns the job it started, or null when it ended without one; also
    // null at once while another run is waiting for its page.
    CDownloadThread* Run();

    // The descriptions of the file types, in the dialog's order.
    static QStringList TypeDescriptions();
    // The format a conversion type selects, from the words in its description; the first word
    // found wins, and none gives Xvid.
    static int FormatOfDescription(const QString& description);
    // The proposed file name: title, cut at a character so that it still fits in one name
    // with the longest extension the program appends (a conversion's intermediate ".flv"
    // included).
    static QString ProposedName(const QString& title);
    // The page as the copy holds it: one byte per character up to U+00FF, a line feed as
    // CR LF, ending before the first character above U+00FF.
    static QByteArray PageCopyBytes(const QString& page);
    // Where the copy of the last page read goes: youtube.html in the user's cache folder.
    static QString PageCopyPath();

private:
    QWidget& m_tab;
    COutputWnd& m_pane;
    std::function<QString()> m_readPage;
    QString m_strConverterFolder;
};
