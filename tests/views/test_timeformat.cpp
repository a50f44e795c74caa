#include "support/TestSupport.h"
#include "views/TimeFormat.h"

#include <limits>

using namespace trimora;

class TimeFormatTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formats_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("zero") << 0.0 << "00:00:00.000";
        QTest::newRow("negative zero") << -0.0 << "00:00:00.000";
        QTest::newRow("hour minute second") << 3725.5 << "01:02:05.500";
        QTest::newRow("never rounds up to the next second") << 59.9999 << "00:00:59.999";
        QTest::newRow("just below an hour") << 3599.9999 << "00:59:59.999";
        // Stored a hair below themselves, they still show as what they are.
        QTest::newRow("1.001") << 1.001 << "00:00:01.001";
        QTest::newRow("2.675") << 2.675 << "00:00:02.675";
        QTest::newRow("a frame at 13.6 s, origin 9.978 s") << 13.6 - 9.978 << "00:00:03.622";
        QTest::newRow("ten steps of 0.1 back to 1 s")
            << 2.0 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 << "00:00:01.000";
        QTest::newRow("hours are not wrapped") << 360000.25 << "100:00:00.250";
        QTest::newRow("negative") << -0.5 << "00:00:00.000";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "00:00:00.000";
        QTest::newRow("+inf") << inf << "00:00:00.000";
        QTest::newRow("-inf") << -inf << "00:00:00.000";
    }
    void formats()
    {
        QFETCH(double, seconds);
        QTEST(formatTime(seconds), "text");
    }
};

QTEST_MAIN(TimeFormatTest)
#include "test_timeformat.moc"
