#pragma once

#include <QDialog>

class CHyperLink;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// "About Quillmoor": the program's version, its distribution agreement and end-user licence
// agreement, and a link to the maker's site.
class CAboutDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CAboutDlg)

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static const char kDistributionAgreement[];
    static const char kEndUserLicenseAgreement[];

    CHyperLink* m_link = nullptr;
    QLabel* m_pVersion = nullptr;
    QPlainTextEdit* m_pDistribution = nullptr;
    QPlainTextEdit* m_pLicense = nullptr;
    QPushButton* m_pOk = nullptr;
};
