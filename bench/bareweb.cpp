// The start-up benchmark's peer: a bare Qt WebEngine program, one view loading the address it
// is given and nothing else.
//
//     bareweb URL

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char** argv)
{
    // As every program that shows web content beside widgets, the real one included.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QWebEngineView view;
    view.resize(1000, 700);
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    view.show();
    return app.exec();
}
