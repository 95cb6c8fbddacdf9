// From Download Video to its "Save Video As" dialog on a 2 MB video page, against its two
// unavoidable parts measured alone in the same run: reading the page's HTML out of the web
// engine, and showing the same file dialog. Not a test: it prints figures.

#include "browser/quillmoorview.h"
#include "capture/downloadvideocommand.h"
#include "downloadlist/outputwnd.h"
#include "tests/support/scriptedhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 9;
constexpr qsizetype kPageBytes = 2 * 1024 * 1024;

// A video page of about 2 MB of Latin-1 text, with its markers at the end, where finding them
// costs most and where the page copy has to write every byte.
QByteArray LargeVideoPage()
{
    QByteArray page = "<html><head><title>YouTube - A large page</title></head><body>";
    for (int i = 0; page.size() < kPageBytes; ++i)
        page += "<p class=\"comment\">Comment " + QByteArray::number(i) +
                ": caf\xc3\xa9 cr\xc3\xa8me, some words about the video, and a few more.</p>\n";
    page += "<script>var swfArgs = {\"video_id\": \"x7Kd_9\", \"t\": \"vjVQa1PpcFM\"};</script>"
            "</body></html>";
    return page;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times from start() to the moment a file dialog is shown; the dialog is then cancelled.
double MillisecondsToDialog(const std::function<void()>& start)
{
    QElapsedTimer clock;
    double ms = -1;
    QObject watcher;
    struct ShowFilter final : QObject {
        std::function<void(QObject*)> onShow;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() == QEvent::Show && qobject_cast<QFileDialog*>(o))
                onShow(o);
            return false;
        }
    } filter;
    filter.onShow = [&](QObject* dialog) {
        if (ms < 0)
            ms = double(clock.nsecsElapsed()) / 1e6;
        QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->reject(); });
    };
    qApp->installEventFilter(&filter);
    clock.start();
    start();
    qApp->removeEventFilter(&filter);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // A home of its own: both dialogs list the same empty folder.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    QApplication app(argc, argv);

    CScriptedHttpServer site;
    const QByteArray page = LargeVideoPage();
    site.Route("/watch", CScriptedHttpServer::Html(page));

    QMainWindow window;
    auto* view = new CQuillmoorView(&window);
    window.setCentralWidget(view);
    auto* pane = new COutputWnd(&window);
    window.addDockWidget(Qt::BottomDockWidgetArea, pane);
    window.resize(1000, 700);
    window.show();
    {
        QEventLoop loop;
        QObject::connect(view, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
        view->NavigateTo(site.Url("/watch"));
        loop.exec();
    }
    QString html;
    view->GetDocumentHtml(html);
    std::printf("page: %lld bytes sent, %lld characters read\n", qlonglong(page.size()),
                qlonglong(html.size()));

    std::vector<double> command;
    std::vector<double> read;
    std::vector<double> dialog;
    for (int round = 0; round < kRounds; ++round) {
        // Alternating, so that whatever the machine does meanwhile falls on all three alike.
        command.push_back(MillisecondsToDialog([&] { view->OnDownloadVideo(); }));
        QElapsedTimer clock;
        clock.start();
        QString text;
        view->GetDocumentHtml(text);
        read.push_back(double(clock.nsecsElapsed()) / 1e6);
        dialog.push_back(MillisecondsToDialog([&] {
            QFileDialog bare(&window, QStringLiteral("Save Video As"));
            bare.setAcceptMode(QFileDialog::AcceptSave);
            bare.setNameFilters(CDownloadVideoCommand::TypeDescriptions());
            bare.setDirectory(home.path());
            bare.exec();
        }));
    }
    const double ours = Median(command);
    const double parts = Median(read) + Median(dialog);
    std::printf("ctrl+d to dialog ms: %.1f\n", ours);
    std::printf("page read alone ms: %.1f\n", Median(read));
    std::printf("dialog alone ms: %.1f\n", Median(dialog));
    std::printf("ctrl+d to dialog over its parts: %.2f\n", ours / parts);
    std::printf("ctrl+d to dialog within 150 ms: %s\n", ours < 150 ? "yes" : "no");
    return 0;
}
