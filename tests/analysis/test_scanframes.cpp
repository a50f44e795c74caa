#include "analysis/FrameMatcher.h"
#include "analysis/RefinementWindows.h"
#include "analysis/ScanLogic.h"
#include "media/FrameReader.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

using scan::Answer;

namespace {

char letter(Answer answer)
{
    switch (answer) {
    case Answer::Hit:
        return 'H';
    case Answer::Miss:
        return 'M';
    case Answer::NoFrame:
        return 'N';
    case Answer::Unserved:
        return 'U';
    }
    return '?';
}

// A classification that changes from frame to frame, so that any difference
// in which frame is chosen for a time shows.
bool oddPixel(const std::optional<Rgb> &pixel)
{
    return pixel && (pixel->r + pixel->g + pixel->b) % 2 == 1;
}

struct Frame
{
    double time;
    bool reference;
    bool hit;
};

// The rule applied by brute force over a whole movie's frames, distances
// equal up to rounding being a tie.
std::optional<Frame> chosen(const std::vector<Frame> &frames, double t, double tolerance)
{
    std::optional<Frame> best;
    for (const Frame &f : frames) {
        const double d = std::abs(f.time - t);
        if (d > tolerance + 1e-6)
            continue;
        if (!best || (f.reference && !best->reference) ||
            (f.reference == best->reference && d < std::abs(best->time - t) - 1e-6))
            best = f;
    }
    return best;
}

} // namespace

class ScanFramesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachTimeGetsItsFrame_data()
    {
        // Frames in display order: R a reference frame, * black or white; a
        // p-prefixed time is a packet whose frame the decoder left out.
        QTest::addColumn<QString>("decode");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<int>("classified");
        QTest::addColumn<int>("settledEarly"); // before the decode ended

        QTest::newRow("a reference beats a nearer frame") << "0.3R 0.49 0.6R*"
                                                          << "0.5" << 0.25 << "H" << 2 << 1;
        QTest::newRow("no reference in reach: the nearest frame, the earlier on a tie")
            << "0.5R 0.875* 1.125 1.5R"
            << "1" << 0.25 << "H" << 1 << 1;
        QTest::newRow("a tie between references") << "0.25R* 0.75R"
                                                  << "0.5" << 0.25 << "H" << 1 << 1;
        QTest::newRow("a tie between the others") << "0.0R 0.25 0.75* 1.5R"
                                                  << "0.5" << 0.25 << "M" << 1 << 1;
        QTest::newRow("only frames left out in reach") << "p0.0 p0.12 p0.08 0.0R 0.2R"
                                                       << "0.1" << 0.05 << "U" << 0 << 1;
        QTest::newRow("nothing in reach") << "0.0R p0.3 0.2R"
                                          << "0.1" << 0.05 << "N" << 0 << 1;
        QTest::newRow("the edge of the tolerance counts, one look for two")
            << "0.25R*"
            << "0 0.5" << 0.25 << "HH" << 1 << 1;
        QTest::newRow("times past the last frame") << "0.0R* 0.5R"
                                                   << "0 0.5 1 1.5" << 0.25 << "HMNN" << 2 << 2;
        QTest::newRow("a later reference is awaited, then each settles at once")
            << "0.45 0.55R* 1.0R 1.7R"
            << "0.5 1 1.5" << 0.25 << "HMM" << 4 << 3;
        QTest::newRow("a gap in the movie") << "0.0R* 2.0R"
                                            << "0 0.5 1 1.5 2" << 0.25 << "HNNNM" << 2 << 5;
    }

    void eachTimeGetsItsFrame()
    {
        QFETCH(QString, decode);
        QFETCH(QString, requests);
        QFETCH(double, tolerance);
        QFETCH(QString, answers);
        QFETCH(int, classified);
        QFETCH(int, settledEarly);

        std::vector<double> times;
        for (const QString &t : requests.split(' '))
            times.push_back(t.toDouble());
        QString got;
        std::vector<double> settledTimes;
        scan::FrameMatcher matcher(scan::requestsFor(times), tolerance,
                                   [&](std::size_t index, double time, Answer answer) {
                                       QCOMPARE(index, static_cast<std::size_t>(got.size()));
                                       QCOMPARE(time, times[index]);
                                       got += letter(answer);
                                   });
        int calls = 0;
        for (QString token : decode.split(' ')) {
            if (token.startsWith('p')) {
                matcher.packet(token.mid(1).toDouble());
                continue;
            }
            const bool hit = token.endsWith('*');
            token.remove('*');
            const bool reference = token.endsWith('R');
            token.remove('R');
            matcher.frame(token.toDouble(), reference, [&] {
                ++calls;
                return hit;
            });
        }
        QCOMPARE(static_cast<int>(got.size()), settledEarly);
        QCOMPARE(matcher.done(), settledEarly == static_cast<int>(times.size()));
        matcher.finish();
        QVERIFY(matcher.done());
        QCOMPARE(got, answers);
        QCOMPARE(calls, classified);
    }

    void windowsTakeTheGridFromBothSidesOfTheirHit()
    {
        // Black on the grid from 4.0 to 4.7; one time at 6.0 only left out.
        scan::RefinementWindows windows(20.0);
        const scan::Requests grid = windows.grid();
        QCOMPARE(grid.count, std::size_t(201));
        auto answer = [](std::size_t k) {
            return k >= 40 && k <= 47 ? Answer::Hit : k == 60 ? Answer::Unserved : Answer::Miss;
        };
        std::size_t k = 0;
        for (double coarse = 0.0; coarse <= 20.0; coarse += 0.5) {
            // The fine grid runs a little ahead of the coarse time, as in a decode.
            for (; k < grid.count && grid.at(k) <= coarse + 0.2; ++k)
                windows.gridAnswer(k, answer(k));
            windows.coarseTime(coarse, coarse == 5.0);
            QVERIFY(windows.answersHeld() <= 26);
        }
        QCOMPARE(windows.windows().size(), std::size_t(1));
        const auto &window = windows.windows()[0];
        QVERIFY(window.settled());
        QCOMPARE(window.times, scan::refinementTimes(5.0, 20.0));
        QCOMPARE(window.hits.size(), std::size_t(8));
        QVERIFY(std::abs(window.hits.front() - 4.0) < 1e-9);
        QVERIFY(std::abs(window.hits.back() - 4.7) < 1e-9);
        QCOMPARE(window.unserved.size(), std::size_t(1));
        QVERIFY(std::abs(window.unserved[0] - 6.0) < 1e-9);
    }

    void singlePassAnswersAsTheRuleDoes_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("duration");
        QTest::addColumn<bool>("someUnserved");
        QTest::newRow("b-frames, 25 fps") << "scan.mp4" << 20.0 << false;
        QTest::newRow("b-frames, 24 fps") << "movie.mp4" << 12.5 << false;
        QTest::newRow("every fourth a reference") << "scan-sparse.mp4" << 20.0 << true;
        QTest::newRow("the same in mpeg-ts from 10 s") << "scan-sparse-offset.ts" << 20.0 << true;
        QTest::newRow("pyramid") << "scan-pyramid.mkv" << 20.0 << false;
    }

    void singlePassAnswersAsTheRuleDoes()
    {
        // One decode of the reference frames, with a window opened at every
        // coarse time, answers each window time as the rule applied to the
        // whole movie does; it leaves exactly the times whose frame is not a
        // reference to a decode of their own.
        QFETCH(QString, movie);
        QFETCH(double, duration);
        QFETCH(bool, someUnserved);
        const std::string file = mediaPath(movie);

        std::vector<Frame> all;
        auto reader = FrameReader::open(file);
        QVERIFY(reader);
        reader->read([](double) { return FrameSkip::Nothing; },
                     [&](const DecodedFrame &f) {
                         all.push_back({f.time(), f.isReference(), oddPixel(f.pixel())});
                         return true;
                     });

        scan::RefinementWindows windows(duration);
        scan::FrameMatcher fine(windows.grid(), scan::fineTolerance,
                                [&](std::size_t k, double, Answer a) { windows.gridAnswer(k, a); });
        const std::vector<double> coarseTimes = scan::coarseTimes(duration);
        std::vector<double> coarseHits;
        scan::FrameMatcher coarse(scan::requestsFor(coarseTimes), scan::coarseTolerance,
                                  [&](std::size_t, double t, Answer) {
                                      const bool hit = t > 1.0 && t < duration - 1.0;
                                      if (hit)
                                          coarseHits.push_back(t);
                                      windows.coarseTime(t, hit);
                                  });
        reader = FrameReader::open(file);
        int decoded = 0;
        QVERIFY(reader->read(
            [&](double t) {
                fine.packet(t);
                coarse.packet(t);
                return FrameSkip::NonReference;
            },
            [&](const DecodedFrame &f) {
                ++decoded;
                const auto hit = [&f] { return oddPixel(f.pixel()); };
                fine.frame(f.time(), f.isReference(), hit);
                coarse.frame(f.time(), f.isReference(), hit);
                return true;
            }));
        coarse.finish();
        fine.finish();
        QVERIFY(decoded < static_cast<int>(all.size()) || !someUnserved);
        QCOMPARE(windows.windows().size(), coarseHits.size());

        std::size_t hits = 0;
        std::size_t unserved = 0;
        for (const auto &window : windows.windows()) {
            QVERIFY(window.settled());
            for (double t : window.times) {
                const std::optional<Frame> expected = chosen(all, t, scan::fineTolerance);
                const bool isHit = std::count(window.hits.begin(), window.hits.end(), t) > 0;
                const bool isUnserved =
                    std::count(window.unserved.begin(), window.unserved.end(), t) > 0;
                const QString where =
                    QString("%1 in the window of %2").arg(t).arg(window.coarseHit);
                QVERIFY2(isUnserved == (expected && !expected->reference), qPrintable(where));
                if (!isUnserved)
                    QVERIFY2(isHit == (expected && expected->hit), qPrintable(where));
                hits += isHit;
                unserved += isUnserved;
            }
        }
        QVERIFY(hits > 100); // the classification really varies
        QCOMPARE(unserved > 0, someUnserved);
    }
};

QTEST_MAIN(ScanFramesTest)
#include "test_scanframes.moc"
