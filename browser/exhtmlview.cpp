#include "browser/exhtmlview.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>

#include <memory>

namespace {

// Long enough for any page the engine is not stuck on; it only guards against a lost answer.
constexpr int kScriptTimeoutMs = 30000;
constexpr char kProfileName[] = "Quillmoor";

} // namespace

CExHtmlView::CExHtmlView(QWidget* parent) : QWebEngineView(parent)
{
    setPage(new QWebEnginePage(SharedProfile(), this));
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_bLoading = true; });
    connect(this, &QWebEngineView::loadFinished, this, [this] { m_bLoading = false; });
}

QWebEngineProfile* CExHtmlView::SharedProfile()
{
    // Kept for the application's life: every page of every tab uses it, and it must outlive
    // them. Named, so it keeps cookies, logins and the cache on disk as a browser does.
    static QPointer<QWebEngineProfile> profile;
    if (!profile) {
        profile = new QWebEngineProfile(QString::fromLatin1(kProfileName), qApp);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    return profile;
}

void CExHtmlView::WaitUntilReady()
{
    if (IsDocumentReady())
        return;
    QEventLoop loop;
    connect(this, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    connect(page(), &QWebEnginePage::renderProcessTerminated, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

void CExHtmlView::NavigateTo(QString url)
{
    load(QUrl(url));
}

void CExHtmlView::NavigatePost(QString url, QString postData)
{
    QWebEngineHttpRequest request(QUrl(url), QWebEngineHttpRequest::Post);
    request.setHeader(QByteArrayLiteral("Content-Type"),
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setPostData(postData.toLocal8Bit());
    load(request);
}

bool CExHtmlView::IsDocumentReady() const
{
    return !m_bLoading;
}

QVariant CExHtmlView::RunScript(const QString& script)
{
    // The answer may come after this call gave up; it then lands in the shared state only.
    struct Answer {
        bool done = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    // A world of its own: the page's scripts share the document but not its script objects, so
    // nothing they replace (a prototype, a getter, document.all) changes what is read here.
    page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [answer, waiting](const QVariant& value) {
                              answer->done = true;
                              answer->value = value;
                              if (waiting)
                                  waiting->quit();
                          });
    if (!answer->done) {
        QTimer::singleShot(kScriptTimeoutMs, &loop, &QEventLoop::quit);
        // A navigation replaces the document the script ran in; its answer may never come. The
        // end of the current load replaces nothing: the answer is still on its way.
        connect(this, &QWebEngineView::loadStarted, &loop, &QEventLoop::quit);
        // A renderer that died answers nothing.
        connect(page(), &QWebEnginePage::renderProcessTerminated, &loop, &QEventLoop::quit);
        connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
        // This view may be gone now; nothing below touches it.
    }
    return answer->value;
}

bool CExHtmlView::GetBodyHtml(QString& text)
{
    text.clear();
    if (url().isEmpty())
        return false;
    const QVariant body =
        RunScript(QStringLiteral("document.body ? document.body.outerHTML : null"));
    if (body.typeId() != QMetaType::QString)
        return false;
    text = body.toString();
    return true;
}

bool CExHtmlView::GetDocumentHtml(QString& text)
{
    text.clear();
    // A view that never navigated has no document of its own yet.
    if (url().isEmpty())
        return false;
    const QVariant html =
        RunScript(QStringLiteral("(function () {"
                                 "  var all = document.all || document.getElementsByTagName('*');"
                                 "  for (var i = 0; i < all.length; ++i)"
                                 "    if (all[i].tagName === 'HTML') return all[i].outerHTML;"
                                 "  return null;"
                                 "})()"));
    if (html.typeId() != QMetaType::QString)
        return false;
    text = html.toString();
    return true;
}
