#include "app/quillmoorapp.h"

#include "app/aboutdlg.h"
#include "app/mainframe.h"
#include "browser/quillmoordoc.h"
#include "controls/credentialsdialog.h"
#include "downloadlist/downloadliststore.h"
#include "downloadlist/outputwnd.h"
#include "net/httptext.h"
#include "res/stringtable.h"
#include "update/fileversioninfo.h"
#include "update/updategate.h"

#include <QAction>
#include <QCommandLineParser>
#include <QFileDialog>
#include <QFileInfo>

#include <cstdio>

CQuillmoorApp::CQuillmoorApp(int& argc, char** argv)
    : QApplication(argc, argv), m_strTabTitle(QString::fromLatin1(CQuillmoorDoc::kTabTitle))
{
    setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    setApplicationName(LoadResString(IDR_QUILLMOOR));
    setApplicationVersion(QStringLiteral(QUILLMOOR_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillmoor.svg")));
}

CQuillmoorApp::~CQuillmoorApp()
{
    ExitInstance();
}

bool CQuillmoorApp::InitInstance()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Browses the video site in tabs and saves the video of the page shown."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Opens a tab titled after the file, showing the "
                                                "home page. Without it, one tab opens."),
                                 QStringLiteral("[file]"));
    // Switches it does not know are ignored, as the framework's command line always did; they
    // may be meant for the web engine (--disable-gpu and the like), which reads them itself.
    if (!parser.parse(arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
            m_nExitCode = 2;
            return false;
        }
        for (const QString& name : unknown)
            std::fprintf(stderr, "quillmoor: ignoring the unknown option %s%s\n",
                         name.size() == 1 ? "-" : "--", qPrintable(name));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return false;
    }

    // A server that asks for a password gets this dialog, also before any window exists.
    SetDefaultCredentialsPrompt(&CCredentialsDialog::Ask);

    // Before any window: a user who takes the newer version gets the download page instead.
    if (!RunUpdateGate(GetModuleVersionString()))
        return false;

    m_pMainWnd = std::make_unique<CMainFrame>();
    const CMainFrame::Commands& commands = m_pMainWnd->ApplicationCommands();
    connect(commands.newTab, &QAction::triggered, this, &CQuillmoorApp::OnFileNew);
    connect(commands.open, &QAction::triggered, this, &CQuillmoorApp::OnFileOpen);
    connect(commands.about, &QAction::triggered, this, &CQuillmoorApp::OnAppAbout);
    commands.about->setEnabled(true);
    // The first start shows large toolbar images with text labels; later starts restore
    // whatever the user left.
    if (!m_pMainWnd->RestoreLayout())
        m_pMainWnd->SetLargeToolbar(true);
    // The Download List as the last session left it, and a notice for jobs that end unseen.
    m_pMainWnd->OutputWnd()->KeepListIn(CDownloadListStore::DefaultPath());
    m_pMainWnd->OutputWnd()->NotifyDesktop();

    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        OnFileNew();
    else
        OpenDocumentFile(files.constFirst());
    m_pMainWnd->show();
    return true;
}

int CQuillmoorApp::ExitInstance()
{
    m_pMainWnd.reset();
    return m_nExitCode;
}

void CQuillmoorApp::OnFileNew()
{
    m_strTabTitle = QString::fromLatin1(CQuillmoorDoc::kTabTitle);
    m_pMainWnd->TabArea()->OpenTab(m_strTabTitle);
}

void CQuillmoorApp::OnAppAbout()
{
    CAboutDlg about(m_pMainWnd.get());
    about.exec();
}

void CQuillmoorApp::OnFileOpen()
{
    const QString path = QFileDialog::getOpenFileName(m_pMainWnd.get());
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

void CQuillmoorApp::OpenDocumentFile(const QString& path)
{
    // The document reads nothing from the file: the tab shows the home page under its name.
    m_pMainWnd->TabArea()->OpenTab(QFileInfo(path).fileName());
}
