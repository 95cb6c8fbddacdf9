#pragma once

#include <QDialog>

class QLineEdit;

// Asks for a user name and password for a server that answered 401. It has no owner window,
// so it can come up before the main window exists.
class CCredentialsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCredentialsDialog)

public:
    explicit CCredentialsDialog(const QString& url);

    QLineEdit* UserEdit() const { return m_pUser; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }

    // The prompt for the HTTP text client: true with the values entered, false when cancelled.
    static bool Ask(const QString& url, QString& user, QString& password);

private:
    QLineEdit* m_pUser = nullptr;
    QLineEdit* m_pPassword = nullptr;
};
