#include "engine/conversionprogress.h"
#include "engine/converter.h"

#include <QTest>

// Reading the converter's console output: durations and positions, chunk by chunk.
class TestConversionProgress final : public QObject {
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void readInteger_data();
    void readInteger();
    void presetArgumentsKeepPathsWhole();
};

// Each row feeds its chunks in order; the reports of all chunks are written "total/current".
void TestConversionProgress::feed_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("reports");
    QTest::addColumn<quint32>("position");

    QTest::newRow("duration gives a first report at 0")
        << QStringList{"  Duration: 00:03:32.63, start: 0.000000, bitrate: 312 kb/s"}
        << "212/0 212/0" << 0u;
    QTest::newRow("a time shows with the next chunk")
        << QStringList{"Duration: 00:03:32.63, start",
                       "frame=  290 fps= 45 q=7.0 size=    1094kB "
                       "time=9.67 bitrate= 926.4kbits/s",
                       "frame=  300"}
        << "212/0 212/0 212/0 212/9" << 9u;
    QTest::newRow("a chunk without markers repeats the last report")
        << QStringList{"Duration: 00:00:10.00,", "time=4 x", "Stream #0:0", "Stream #0:1"}
        << "10/0 10/0 10/0 10/4 10/4" << 4u;
    QTest::newRow("hours and minutes count")
        << QStringList{"Duration: 01:02:03.99, start"} << "3723/0 3723/0" << 0u;
    QTest::newRow("no duration yet: total stays 0")
        << QStringList{"time=5 a", "time=6 b"} << "0/0 0/5" << 6u;
    QTest::newRow("time without a blank behind it reads 0")
        << QStringList{"time=5 a", "time=7"} << "0/0 0/5" << 0u;
    QTest::newRow("only the first time in a chunk counts")
        << QStringList{"time=5 a time=9 b"} << "0/0" << 5u;
    QTest::newRow("a marker split across chunks is not seen")
        << QStringList{"Durat", "ion: 00:00:10.00, start"} << "0/0 0/0" << 0u;
    QTest::newRow("duration N/A reads 0")
        << QStringList{"Duration: N/A, bitrate: N/A"} << "0/0 0/0" << 0u;
    QTest::newRow("position past the duration is kept")
        << QStringList{"Duration: 00:00:10.00,", "time=12.5 x", "."} << "10/0 10/0 10/0 10/12"
        << 12u;
}

void TestConversionProgress::feed()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, reports);
    QFETCH(quint32, position);

    CConversionProgress progress;
    QStringList seen;
    for (const QString& chunk : chunks) {
        for (const auto& [total, current] : progress.Feed(chunk))
            seen << QStringLiteral("%1/%2").arg(total).arg(current);
    }
    QCOMPARE(seen.join(u' '), reports);
    QCOMPARE(progress.Position(), position);
}

void TestConversionProgress::readInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");

    QTest::newRow("digits") << "42" << qint64(42);
    QTest::newRow("leading blanks, trailing text") << " \t 42abc" << qint64(42);
    QTest::newRow("fraction dropped") << "32.63" << qint64(32);
    QTest::newRow("minus") << "-7" << qint64(-7);
    QTest::newRow("plus") << "+8" << qint64(8);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("no digits") << "x1" << qint64(0);
}

void TestConversionProgress::readInteger()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    QCOMPARE(CConversionProgress::ReadInteger(text), value);
}

void TestConversionProgress::presetArgumentsKeepPathsWhole()
{
    const QString input = QStringLiteral("/v/my \"best\" clip.mp3.flv");
    const QString output = QStringLiteral("/v/it's $HOME; `x`.mp3");
    QCOMPARE(Converter::PresetArguments(7, input, output),
             (QStringList{"-i", input, "-y", "-ar", "48000", "-ab", "192", "-ac", "2", output}));
    QCOMPARE(Converter::PresetArguments(0, input, output).mid(2, 3),
             (QStringList{"-y", "-vcodec", "xvid"}));
}

QTEST_APPLESS_MAIN(TestConversionProgress)
#include "tst_conversionprogress.moc"
