#include "controls/credentialsdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

CCredentialsDialog::CCredentialsDialog(const QString& url) : QDialog(nullptr)
{
    setWindowTitle(tr("Enter Network Password"));
    setModal(true);
    auto* layout = new QFormLayout(this);
    auto* site = new QLabel(tr("The server %1 asks for a user name and password.")
                                .arg(QUrl(url).host().toHtmlEscaped()),
                            this);
    site->setWordWrap(true);
    layout->addRow(site);
    m_pUser = new QLineEdit(this);
    m_pPassword = new QLineEdit(this);
    m_pPassword->setEchoMode(QLineEdit::Password);
    layout->addRow(tr("&User name:"), m_pUser);
    layout->addRow(tr("&Password:"), m_pPassword);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

bool CCredentialsDialog::Ask(const QString& url, QString& user, QString& password)
{
    CCredentialsDialog dialog(url);
    dialog.m_pUser->setText(user);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    user = dialog.m_pUser->text();
    password = dialog.m_pPassword->text();
    return true;
}
