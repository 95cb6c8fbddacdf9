#include "app/quillmoorapp.h"

int main(int argc, char** argv)
{
    // The web engine shares its rendering context with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    CQuillmoorApp app(argc, argv);
    if (!app.InitInstance())
        return app.ExitCode();
    const int status = app.exec();
    app.ExitInstance();
    return status;
}
