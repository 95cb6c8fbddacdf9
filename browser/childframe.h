#pragma once

#include <QMdiSubWindow>

class CQuillmoorDoc;
class CQuillmoorView;

// One browser tab in the main frame's tabbed area: the document and its view together. Its
// caption is the document's title, whatever page the view shows.
class CChildFrame final : public QMdiSubWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CChildFrame)

public:
    CChildFrame(const QString& title, QWidget* parent = nullptr);

    CQuillmoorDoc* Document() const { return m_pDocument; }
    CQuillmoorView* View() const { return m_pView; }

private:
    CQuillmoorDoc* m_pDocument = nullptr;
    CQuillmoorView* m_pView = nullptr;
};
