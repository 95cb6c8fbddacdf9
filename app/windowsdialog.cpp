#include "app/windowsdialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

CWindowsDialog::CWindowsDialog(QMdiArea* area, QWidget* parent) : QDialog(parent), m_pArea(area)
{
    setWindowTitle(tr("Windows"));
    m_pList = new QListWidget(this);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* activate = new QPushButton(tr("&Activate"), this);
    auto* close = new QPushButton(tr("&Close Window(s)"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Vertical, this);
    buttons->addButton(activate, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(activate, &QPushButton::clicked, this, &CWindowsDialog::ActivateSelected);
    connect(close, &QPushButton::clicked, this, &CWindowsDialog::CloseSelected);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, &CWindowsDialog::ActivateSelected);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_pList, 1);
    layout->addWidget(buttons);
    Fill();
}

void CWindowsDialog::Fill()
{
    m_pList->clear();
    for (QMdiSubWindow* window : m_pArea->subWindowList(QMdiArea::StackingOrder)) {
        auto* item = new QListWidgetItem(window->windowTitle(), m_pList);
        item->setData(Qt::UserRole, QVariant::fromValue(static_cast<QObject*>(window)));
        if (window == m_pArea->currentSubWindow())
            m_pList->setCurrentItem(item);
    }
}

void CWindowsDialog::ActivateSelected()
{
    if (QListWidgetItem* item = m_pList->currentItem()) {
        m_pArea->setActiveSubWindow(
            qobject_cast<QMdiSubWindow*>(item->data(Qt::UserRole).value<QObject*>()));
        accept();
    }
}

void CWindowsDialog::CloseSelected()
{
    for (QListWidgetItem* item : m_pList->selectedItems()) {
        if (auto* window = qobject_cast<QMdiSubWindow*>(item->data(Qt::UserRole).value<QObject*>()))
            window->close();
    }
    Fill();
}
