#pragma once

#include <QObject>
#include <QString>

// A browser tab's document: it holds its title and nothing else, so saving writes an empty file.
class CQuillmoorDoc final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CQuillmoorDoc)

public:
    // The title of every new tab's document, whatever page it shows.
    static constexpr char kTabTitle[] = "YouTube";

    explicit CQuillmoorDoc(QObject* parent = nullptr);

    // A new tab's document takes the application's tab title.
    bool OnNewDocument(const QString& title);
    // Writes the (empty) document to path and takes the file's name as its title.
    bool OnSaveDocument(const QString& path);

    QString GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);

signals:
    void titleChanged(const QString& title);

private:
    QString m_strTitle;
};
