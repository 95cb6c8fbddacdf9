#include "app/aboutdlg.h"

#include "controls/hyperlink.h"
#include "net/makerserver.h"
#include "update/fileversioninfo.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

const char CAboutDlg::kDistributionAgreement[] =
    "Quillmoor is free software for personal use. Norvane grants you a non-exclusive licence to "
    "install and use any number of copies of Quillmoor on computers that you own or control, and "
    "to make and give away exact copies of its installation package, provided that you comply "
    "with all of the following conditions:\r\n"
    "\r\n"
    "1. You distribute the package exactly as Norvane published it, complete and unaltered, "
    "including this agreement, the end user license agreement and every copyright notice.\r\n"
    "\r\n"
    "2. You do not charge any fee for the copies you make or give away, nor for access to them; "
    "a fee for the medium that carries a copy, or for any service provided with it, counts as a "
    "charge for the copy.\r\n"
    "\r\n"
    "3. You do not bundle Quillmoor with any other product, offer, installer or download, and "
    "you do not present it as part of anything else, without the prior written permission of "
    "Norvane.\r\n"
    "\r\n"
    "You may not sell, rent, lease or sublicense Quillmoor, and you may not charge for copies of "
    "it in any form. Publishers of software collections, magazines and download sites must "
    "obtain written permission from Norvane before they include Quillmoor in any distribution.\r\n"
    "\r\n"
    "Norvane reserves the right to revoke the distribution rights granted here, for any person "
    "or organisation and at any time, by notice on its web site or in writing; once they are "
    "revoked, no further copies may be given away under this agreement. All rights not expressly "
    "granted here are reserved by Norvane.";

const char CAboutDlg::kEndUserLicenseAgreement[] =
    "Quillmoor is provided \"AS IS\", without warranty of any kind, express or implied, including "
    "but not limited to the warranties of merchantability, fitness for a particular purpose, "
    "title and non-infringement. The entire risk as to the quality and performance of the "
    "program is with you. Norvane does not warrant that the program will meet your requirements, "
    "that its operation will be uninterrupted or free of errors, or that the files it saves will "
    "be complete or usable. In no event shall Norvane or its suppliers be liable for any damages "
    "whatsoever, including without limitation direct, indirect, special, incidental or "
    "consequential damages, loss of data, loss of profits or business interruption, arising out "
    "of the use of or inability to use the program, even if Norvane has been advised of the "
    "possibility of such damages. You are responsible for using the program only with content "
    "that you have the right to save.";

namespace {

QPlainTextEdit* AgreementBox(const char* text, QWidget* parent)
{
    auto* box = new QPlainTextEdit(parent);
    box->setReadOnly(true);
    box->setPlainText(
        QString::fromLatin1(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return box;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Quillmoor"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    auto* name = new QLabel(QStringLiteral("Quillmoor"), this);
    name->setTextFormat(Qt::PlainText);
    m_pVersion = new QLabel(GetModuleVersionString(), this);
    m_pDistribution = AgreementBox(kDistributionAgreement, this);
    m_pLicense = AgreementBox(kEndUserLicenseAgreement, this);
    m_link = new CHyperLink(this);
    m_link->setText(QStringLiteral("Norvane"));
    m_link->SetURL(MakerServer::HomePageUrl());
    m_link->SetUnderline(CHyperLink::ulAlways);
    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* head = new QGridLayout;
    head->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    head->addWidget(name, 0, 1, 1, 2);
    head->addWidget(new QLabel(QStringLiteral("Version"), this), 1, 1);
    head->addWidget(m_pVersion, 1, 2);
    head->setColumnStretch(2, 1);
    auto* notice = new QHBoxLayout;
    notice->addStretch();
    notice->addWidget(new QLabel(QStringLiteral("\u00a9 2009"), this));
    notice->addWidget(m_link);
    notice->addWidget(new QLabel(QStringLiteral("All rights reserved."), this));
    notice->addSpacing(16);
    notice->addWidget(m_pOk);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(new QLabel(QStringLiteral("Distribution Agreement:"), this));
    layout->addWidget(m_pDistribution, 3);
    layout->addWidget(new QLabel(QStringLiteral("End User License Agreement:"), this));
    layout->addWidget(m_pLicense, 2);
    layout->addLayout(notice);
    resize(560, 480);
    m_pOk->setFocus();
}
