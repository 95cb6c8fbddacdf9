#include "capture/pagetext.h"

#include <QTest>

// The page text utilities: markers, entities, file-name characters and replacement.
class TestPageText final : public QObject {
    Q_OBJECT

private slots:
    void extractBetween_data();
    void extractBetween();
    void extractBetweenLeavesInputsAlone();
    void decodeHtmlEntities_data();
    void decodeHtmlEntities();
    void removeFileNameChars_data();
    void removeFileNameChars();
    void replaceAll_data();
    void replaceAll();
};

void TestPageText::extractBetween_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("expected");

    const QString idStart = QStringLiteral("\"video_id\": \"");
    const QString quote = QStringLiteral("\"");
    QTest::newRow("the first of two start markers counts")
        << QStringLiteral("x \"video_id\": \"abc\" y \"video_id\": \"def\"") << idStart << quote
        << "abc";
    QTest::newRow("end marker only before the start marker")
        << QStringLiteral("END then START value") << "START"
        << "END"
        << "";
    QTest::newRow("start marker at the very end") << QStringLiteral("value START") << "START"
                                                  << "END"
                                                  << "";
    QTest::newRow("end marker right behind the start marker")
        << QStringLiteral("STARTEND") << "START"
        << "END"
        << "";
    QTest::newRow("no start marker") << QStringLiteral("nothing here") << "START"
                                     << "END"
                                     << "";
    QTest::newRow("markers fold A to Z, the value keeps its case")
        << QStringLiteral("<TITLE>youtube - My Clip</TITLE>") << "<title>YouTube - "
        << "</"
        << "My Clip";
    QTest::newRow("accented capitals are not folded")
        << QStringLiteral("<É>value</É>") << QStringLiteral("<é>") << "</"
        << "";
    // Unicode folding would take the Kelvin sign for a K.
    QTest::newRow("the Kelvin sign is no K") << QString::fromUtf16(u"\u212Aey=v;") << "key="
                                             << ";"
                                             << "";
    QTest::newRow("a start marker found past a false start")
        << QStringLiteral("xxStStart=v;") << "start="
        << ";"
        << "v";
    QTest::newRow("references become spaces before trimming")
        << QStringLiteral("[&nbsp;My&nbsp;Clip&nbsp;]") << "["
        << "]"
        << "My Clip";
    QTest::newRow("trims tab, line breaks and no-break space")
        << QStringLiteral("[\t\r\n\u00a0 v \u000b\u000c]") << "["
        << "]"
        << "v";
    QTest::newRow("trims ideographic space above U+00FF")
        << QStringLiteral("[\u3000v\u2003]") << "["
        << "]"
        << "v";
    QTest::newRow("U+0085 is not trimmed") << QStringLiteral("[\u0085v]") << "["
                                           << "]" << QStringLiteral("\u0085v");
    QTest::newRow("decoded value") << QStringLiteral("[Tom &amp; Jerry &quot;1&quot;]") << "["
                                   << "]" << QStringLiteral("Tom & Jerry \"1\"");
}

void TestPageText::extractBetween()
{
    QFETCH(QString, source);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, expected);

    QString result = QStringLiteral("stale");
    const int length = ExtractBetween(source, start, end, result);
    QCOMPARE(result, expected);
    QCOMPARE(length, int(expected.size()));
}

void TestPageText::extractBetweenLeavesInputsAlone()
{
    const QString source = QStringLiteral("<TITLE>A</TITLE>");
    const QString start = QStringLiteral("<TITLE>");
    const QString end = QStringLiteral("</");
    QString result;
    ExtractBetween(source, start, end, result);
    QCOMPARE(source, QStringLiteral("<TITLE>A</TITLE>"));
    QCOMPARE(start, QStringLiteral("<TITLE>"));
    QCOMPARE(result, QStringLiteral("A"));
}

void TestPageText::decodeHtmlEntities_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("named forms") << "&quot;&amp;&lt;&gt;&circ;&tilde;&nbsp;"
                                 << "\"&<>^~ ";
    QTest::newRow("decimal forms") << "&#34;&#38;&#60;&#62;&#710;&#732;&#160;"
                                   << "\"&<>^~ ";
    QTest::newRow("hexadecimal forms") << "&#x22;&#x26;&#x3C;&#x3E;&#x2C6;&#x2DC;&#xA0;"
                                       << "\"&<>^~ ";
    QTest::newRow("ampersand runs before less-than") << "&amp;lt;"
                                                     << "<";
    QTest::newRow("quotation mark has already run") << "&amp;quot;"
                                                    << "&quot;";
    QTest::newRow("lower-case hex digits stay") << "&#x3c;"
                                                << "&#x3c;";
    QTest::newRow("upper-case X stays") << "&#X3C;"
                                        << "&#X3C;";
    QTest::newRow("upper-case name stays") << "&QUOT;"
                                           << "&QUOT;";
    QTest::newRow("apostrophe is not in the table") << "&#39;"
                                                    << "&#39;";
    QTest::newRow("other named references stay") << "&eacute;&copy;"
                                                 << "&eacute;&copy;";
    QTest::newRow("no-break space is a plain space") << "a&nbsp;b"
                                                     << "a b";
}

void TestPageText::decodeHtmlEntities()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    DecodeHtmlEntities(text);
    QCOMPARE(text, expected);
}

void TestPageText::removeFileNameChars_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("slash, colon and question mark") << "a/b: c?"
                                                    << "ab c";
    QTest::newRow("only the nine characters") << "\\/:*?\"<>|"
                                              << "";
    QTest::newRow("dots, spaces and device names pass") << " CON. "
                                                        << " CON. ";
    QTest::newRow("control characters pass") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
}

void TestPageText::removeFileNameChars()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    RemoveFileNameChars(text);
    QCOMPARE(text, expected);
}

void TestPageText::replaceAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("oldText");
    QTest::addColumn<QString>("newText");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("count");

    QTest::newRow("empty old text changes nothing") << "abc"
                                                    << ""
                                                    << "x"
                                                    << "abc" << 0;
    QTest::newRow("occurrences do not overlap") << "aaaa"
                                                << "aa"
                                                << "b"
                                                << "bb" << 2;
    QTest::newRow("inserted text is not scanned again") << "ab"
                                                        << "a"
                                                        << "aa"
                                                        << "aab" << 1;
    QTest::newRow("case-sensitive") << "Aa"
                                    << "a"
                                    << ""
                                    << "A" << 1;
    QTest::newRow("no occurrence") << "abc"
                                   << "x"
                                   << "y"
                                   << "abc" << 0;
}

void TestPageText::replaceAll()
{
    QFETCH(QString, text);
    QFETCH(QString, oldText);
    QFETCH(QString, newText);
    QFETCH(QString, expected);
    QFETCH(int, count);
    QCOMPARE(ReplaceAll(text, oldText, newText), count);
    QCOMPARE(text, expected);
}

QTEST_APPLESS_MAIN(TestPageText)
#include "tst_pagetext.moc"
