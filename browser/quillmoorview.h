#pragma once

#include "browser/exhtmlview.h"

#include <functional>

class QWidget;

// The view of a browser tab: shows the video site and carries the navigation commands.
class CQuillmoorView final : public CExHtmlView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CQuillmoorView)

public:
    explicit CQuillmoorView(QWidget* parent = nullptr);

    // Opens the video site's home page; run once when the tab is first shown.
    void OnInitialUpdate();

    void OnGoBack();
    void OnGoForward();
    void OnStop();
    void OnRefresh();
    // Asks for a printer and prints the page.
    void OnFilePrint();
    // Download Video: saves the video of the page shown, into the main window's Download List.
    void OnDownloadVideo();

    // Where a link, a script or the page's menu asks for a new window: opens a tab for it and
    // returns that tab's view, which then shows the page asked for.
    using WindowOpener = std::function<CQuillmoorView*()>;
    void SetWindowOpener(WindowOpener opener) { m_openWindow = std::move(opener); }

    // Whether the page's history allows going back or forward, as the engine last said.
    bool CanGoBack() const { return m_bCanGoBack; }
    bool CanGoForward() const { return m_bCanGoForward; }

signals:
    // Back or forward became possible or impossible.
    void commandStateChanged();

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

private:
    void OnCommandStateChange();
    void AddViewKeys();

    WindowOpener m_openWindow;
    bool m_bCanGoForward = false;
    bool m_bCanGoBack = false;
};
