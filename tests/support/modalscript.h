#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers the modal windows that come up while it lives, in order, one step each, and writes
// down what each one was: "QFileDialog Save Video As", or "QMessageBox Quillmoor|text|icon".
// A window that comes when no step is left is rejected and noted with "unexpected ".
class CModalScript final : public QObject {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit CModalScript(QList<Step> steps = {});

    // Steps for the usual answers.
    // In "Save Video As": choose the type by its description, then the path, then Save.
    static Step SaveAs(const QString& type, const QString& path);
    // Cancel in whatever dialog it is.
    static Step Reject();
    // The button of a message box.
    static Step Press(QMessageBox::StandardButton button);
    // Runs check on the window first, then answer.
    static Step Inspect(std::function<void(QWidget*)> check, Step answer);

    // One line per window seen, as described above.
    QStringList seen;
    // The steps not taken yet.
    qsizetype Pending() const { return m_steps.size(); }

private:
    void Poll();

    QList<Step> m_steps;
    QPointer<QWidget> m_last;
    QTimer m_poll;
};
