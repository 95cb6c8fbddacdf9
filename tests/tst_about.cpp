#include "app/aboutdlg.h"
#include "controls/hyperlink.h"
#include "controls/shelllayer.h"
#include "tests/support/messageboxanswer.h"

#include <QEnterEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

void Hover(CHyperLink& link, bool over)
{
    if (over) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(&link, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&link, &leave);
    }
}

} // namespace

// The About dialog's texts and version, and the hyperlink's underlines, colours and errors.
class TestAbout final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void aboutDialog();
    void underlineModes_data();
    void underlineModes();
    void clickColoursAndErrors_data();
    void clickColoursAndErrors();
    void errorTexts_data();
    void errorTexts();
    void fallbackCommand_data();
    void fallbackCommand();

private:
    QTemporaryDir m_noDesktopFiles;
};

void TestAbout::initTestCase()
{
    // No desktop entries: the link's fallback finds no browser to start.
    qputenv("XDG_DATA_HOME", m_noDesktopFiles.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", m_noDesktopFiles.path().toLocal8Bit());
    qputenv("QUILLMOOR_MAKER_HOST", "127.0.0.1:9");
}

void TestAbout::aboutDialog()
{
    CAboutDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Quillmoor"));
    // This test program carries no version record: the version is empty.
    QCOMPARE(dialog.m_pVersion->text(), QString());
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    for (const char* text :
         {"Quillmoor", "Version", "Distribution Agreement:", "End User License Agreement:"})
        QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
    for (QPlainTextEdit* box : {dialog.m_pDistribution, dialog.m_pLicense}) {
        QVERIFY(box->isReadOnly());
        QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    QVERIFY(dialog.m_pDistribution->toPlainText().contains("3. You do not bundle"));
    QVERIFY(dialog.m_pLicense->toPlainText().contains("\"AS IS\""));
    const int distribution = int(qstrlen(CAboutDlg::kDistributionAgreement));
    const int license = int(qstrlen(CAboutDlg::kEndUserLicenseAgreement));
    QVERIFY2(distribution > 1400 && distribution < 1900, qPrintable(QString::number(distribution)));
    QVERIFY2(license > 800 && license < 1200, qPrintable(QString::number(license)));

    QCOMPARE(dialog.m_link->GetURL(), QStringLiteral("http://127.0.0.1:9/"));
    QCOMPARE(dialog.m_link->toolTip(), QStringLiteral("http://127.0.0.1:9/"));
    QCOMPARE(dialog.m_link->GetUnderline(), int(CHyperLink::ulAlways));
    QCOMPARE(dialog.m_link->cursor().shape(), Qt::PointingHandCursor);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.m_pOk);
}

void TestAbout::underlineModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("away");
    QTest::addColumn<bool>("over");
    QTest::newRow("always") << int(CHyperLink::ulAlways) << true << true;
    QTest::newRow("under the pointer only") << int(CHyperLink::ulHover) << false << true;
    QTest::newRow("never") << int(CHyperLink::ulNone) << false << false;
}

void TestAbout::underlineModes()
{
    QFETCH(int, mode);
    QFETCH(bool, away);
    QFETCH(bool, over);
    CHyperLink link;
    link.SetUnderline(mode);
    QCOMPARE(link.IsUnderlinedNow(), away);
    Hover(link, true);
    QCOMPARE(link.IsUnderlinedNow(), over);
    QCOMPARE(link.CurrentColour(), link.m_crHoverColour);
    Hover(link, false);
    QCOMPARE(link.IsUnderlinedNow(), away);
    QCOMPARE(link.CurrentColour(), QColor(0, 0, 238));
}

void TestAbout::clickColoursAndErrors_data()
{
    QTest::addColumn<int>("shellResult");
    QTest::addColumn<bool>("visited");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("opened: visited colour") << 0 << true << QStringList{};
    QTest::newRow("no tool and no browser entry")
        << 3 << false
        << QStringList{"Unable to open hyperlink:\n\nThere is no application associated\nwith the "
                       "given filename extension."};
    QTest::newRow("file not found")
        << 2 << false
        << QStringList{"Unable to open hyperlink:\n\nThe specified file was not found."};
}

void TestAbout::clickColoursAndErrors()
{
    QFETCH(int, shellResult);
    QFETCH(bool, visited);
    QFETCH(QStringList, messages);
    QStringList opened;
    CShellLayer::SetHandler([&](const QString& target) {
        opened << target;
        return shellResult;
    });
    CHyperLink link;
    link.setText(QStringLiteral("Norvane"));
    link.SetURL(QStringLiteral("http://127.0.0.1:9/"));
    link.show();
    CMessageBoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(opened, QStringList{"http://127.0.0.1:9/"});
    QCOMPARE(link.m_bVisited, visited);
    // The pointer may be back over the link once a message box closed; away from it the
    // colour tells whether the visit succeeded.
    Hover(link, false);
    QCOMPARE(link.CurrentColour(), visited ? QColor(85, 26, 139) : QColor(0, 0, 238));
    QCOMPARE(answer.texts, messages);
    CShellLayer::SetHandler({});
}

void TestAbout::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "The operating system is out\nof memory or resources.";
    QTest::newRow("26 keeps its trailing blank") << 26 << "A sharing violation occurred. ";
    QTest::newRow("31") << 31
                        << "There is no application associated\nwith the given filename extension.";
    QTest::newRow("unknown") << 4 << "Unknown Error (4) occurred.";
}

void TestAbout::errorTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(CHyperLink::ErrorText(code), text);
}

void TestAbout::fallbackCommand_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("command");
    const QString url = QStringLiteral("http://127.0.0.1:9/");
    QTest::newRow("quoted program, option, quoted placeholder")
        << "\"/opt/web browser/run\" --new-window \"%u\""
        << "\"/opt/web browser/run\" --new-window " + url;
    QTest::newRow("bare placeholder") << "firefox-esr %u"
                                      << "firefox-esr " + url;
    QTest::newRow("list placeholder, more after it") << "chromium %U --incognito"
                                                     << "chromium " + url;
    QTest::newRow("file placeholder") << "browser %F"
                                      << "browser " + url;
    QTest::newRow("no placeholder") << "/usr/bin/browser"
                                    << "/usr/bin/browser " + url;
    QTest::newRow("nothing to run") << ""
                                    << "";
}

void TestAbout::fallbackCommand()
{
    QFETCH(QString, exec);
    QFETCH(QString, command);
    QCOMPARE(CHyperLink::FallbackCommand(exec, QStringLiteral("http://127.0.0.1:9/")), command);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
