// The start-up benchmark's peer: a bare Qt WebEngine program, one view loading the address it
// is given and nothing else; with --profile NAME its page keeps its data on disk in a profile of
// that name, as the program's tabs do.
//
//     bareweb [--profile NAME] URL

#include <QApplication>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

int main(int argc, char** argv)
{
    // As every program that shows web content beside widgets, the real one included.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString profileName;
    if (args.size() == 3 && args[0] == QLatin1String("--profile")) {
        profileName = args[1];
        args = args.mid(2);
    }
    if (args.size() != 1)
        return 2;
    QWebEngineView view;
    if (!profileName.isEmpty()) {
        auto* profile = new QWebEngineProfile(profileName, &app);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
        view.setPage(new QWebEnginePage(profile, &view));
    }
    view.resize(1000, 700);
    view.load(QUrl(args[0]));
    view.show();
    return app.exec();
}
