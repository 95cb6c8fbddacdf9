#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;

// The application: start-up, the main frame, and the commands that belong to no window (New
// Tab, Open). Settings live under "Local AppWizard-Generated Applications" / "Quillmoor".
class CQuillmoorApp final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CQuillmoorApp)

public:
    CQuillmoorApp(int& argc, char** argv);
    ~CQuillmoorApp() override;

    // Start-up; false ends the program with ExitCode().
    bool InitInstance();
    int ExitInstance();
    int ExitCode() const { return m_nExitCode; }

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

    // New Tab: one more tab on the home page, titled "YouTube".
    void OnFileNew();
    // Open: the chosen file becomes a new tab titled after it, showing the home page.
    void OnFileOpen();
    void OpenDocumentFile(const QString& path);
    // About: the program's version, its agreements and the maker's link.
    void OnAppAbout();

    // The title every new tab's document takes.
    QString m_strTabTitle;
    bool m_bHighColorIcons = true;

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
    int m_nExitCode = 0;
};
