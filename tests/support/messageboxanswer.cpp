#include "tests/support/messageboxanswer.h"

#include <QAbstractButton>
#include <QApplication>

CMessageBoxAnswer::CMessageBoxAnswer(QMessageBox::StandardButton button) : m_button(button)
{
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->text();
            titles << box->windowTitle();
            box->button(m_button)->click();
        }
    });
    m_poll.start(10);
}
