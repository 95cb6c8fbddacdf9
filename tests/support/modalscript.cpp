#include "tests/support/modalscript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>

CModalScript::CModalScript(QList<Step> steps) : m_steps(std::move(steps))
{
    connect(&m_poll, &QTimer::timeout, this, &CModalScript::Poll);
    m_poll.start(10);
}

void CModalScript::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == m_last || !modal->isVisible())
        return;
    m_last = modal;
    QString line =
        QString::fromLatin1(modal->metaObject()->className()) + u' ' + modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        line += u'|' + box->text() + u'|' + QString::number(int(box->icon()));
    if (m_steps.isEmpty()) {
        seen << QStringLiteral("unexpected ") + line;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        return;
    }
    seen << line;
    const Step step = m_steps.takeFirst();
    step(modal);
}

CModalScript::Step CModalScript::SaveAs(const QString& type, const QString& path)
{
    return [type, path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            qobject_cast<QDialog*>(modal)->reject();
            return;
        }
        // The type first: choosing it rewrites the suffix of a name already given. Then the
        // path typed into the name field, as a user does.
        dialog->selectNameFilter(type);
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        else
            dialog->selectFile(path);
        // Through QDialog: the file dialog keeps its own accept() protected.
        static_cast<QDialog*>(dialog)->accept();
    };
}

CModalScript::Step CModalScript::Reject()
{
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    };
}

CModalScript::Step CModalScript::Press(QMessageBox::StandardButton button)
{
    return [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(button))
            box->button(button)->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    };
}

CModalScript::Step CModalScript::Inspect(std::function<void(QWidget*)> check, Step answer)
{
    return [check, answer](QWidget* modal) {
        check(modal);
        answer(modal);
    };
}
