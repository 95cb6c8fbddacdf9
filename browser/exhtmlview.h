#pragma once

#include <QWebEngineView>

class QWebEngineProfile;

// A web view with synchronous page reading and navigation helpers. The engine answers
// asynchronously; the helpers wait for its answer while the event loop keeps running, so the
// window never freezes, and give up when the application quits, the page's renderer dies or
// the view is destroyed. Any command may run during a wait, and the view may be gone after it:
// callers hold it through a QPointer.
class CExHtmlView : public QWebEngineView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CExHtmlView)

public:
    explicit CExHtmlView(QWidget* parent = nullptr);

    // The one persistent profile all tabs share, kept in the user's data folder.
    static QWebEngineProfile* SharedProfile();

    // Returns once the page has finished loading, or when the application quits.
    virtual void WaitUntilReady();
    virtual void NavigateTo(QString url);
    // POSTs data, converted to the locale's 8-bit encoding, as a form.
    virtual void NavigatePost(QString url, QString postData);
    virtual bool IsDocumentReady() const;
    // The outer HTML of the page's body; false when there is no document or no body.
    virtual bool GetBodyHtml(QString& text);
    // The outer HTML of the page's first element named HTML; false, with text empty, when the
    // view has no document yet or the page has no such element.
    virtual bool GetDocumentHtml(QString& text);

private:
    // Runs script in the page and waits for its result; an invalid value when none came.
    QVariant RunScript(const QString& script);

    bool m_bLoading = false;
};
