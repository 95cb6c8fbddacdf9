#pragma once

#include <QLabel>

#include <functional>

// A label that is a web link: coloured text (hover and visited colours), an optional underline,
// the pointing-hand cursor, the address as its tooltip, and a click that opens the address
// with the desktop, falling back to the default browser's command line.
class CHyperLink final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CHyperLink)

public:
    enum UnderlineMode { ulHover = -1, ulNone = 0, ulAlways = 1 };

    explicit CHyperLink(QWidget* parent = nullptr);

    void SetURL(const QString& url);
    QString GetURL() const { return m_strURL; }
    void SetUnderline(int mode);
    int GetUnderline() const { return m_nUnderline; }

    // Opens url and calls done with the result on the user-interface thread, unless context goes
    // first: above 32 means it was handed to a program, else a failure code.
    static void GotoURL(const QString& url, QObject* context, std::function<void(int result)> done);
    // The text of a failure code, as the message box shows it after "Unable to open hyperlink:".
    static QString ErrorText(int code);
    // Beeps and tells the user why url could not be opened.
    void ReportError(int code);
    // The default browser's command line for url: exec cut at its first field code (quoted or
    // not), then a blank and url. Empty when exec is empty.
    static QString FallbackCommand(const QString& exec, const QString& url);

    // The colour the text shows now, and whether it is underlined now.
    QColor CurrentColour() const;
    bool IsUnderlinedNow() const { return font().underline(); }
    // A click's address is being opened and its result is not known yet.
    bool IsOpening() const { return m_bOpening; }

    QColor m_crLinkColour{0, 0, 238};
    QColor m_crVisitedColour{85, 26, 139};
    QColor m_crHoverColour{255, 0, 0};
    bool m_bOverControl = false;
    bool m_bVisited = false;
    bool m_bAdjustToFit = true;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnClicked();
    void UpdateLook();

    int m_nUnderline = ulHover;
    bool m_bOpening = false;
    QString m_strURL;
};
