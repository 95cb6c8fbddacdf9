#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers every message box that comes up while it lives with one button, and keeps their texts.
class CMessageBoxAnswer final : public QObject {
public:
    explicit CMessageBoxAnswer(QMessageBox::StandardButton button);

    QStringList texts;
    QStringList titles;

private:
    QMessageBox::StandardButton m_button;
    QTimer m_poll;
};
