#pragma once

#include <QDialog>

class QListWidget;
class QMdiArea;

// The "Windows..." dialog: lists the open tabs, from which they can be activated or closed.
class CWindowsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CWindowsDialog)

public:
    CWindowsDialog(QMdiArea* area, QWidget* parent = nullptr);

    QListWidget* List() const { return m_pList; }
    void ActivateSelected();
    void CloseSelected();

private:
    void Fill();

    QMdiArea* m_pArea = nullptr;
    QListWidget* m_pList = nullptr;
};
