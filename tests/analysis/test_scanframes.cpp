#include "analysis/FrameMatcher.h"
#include "analysis/ScanLogic.h"
#include "media/FrameReader.h"
#include "support/FrameRule.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace trimora;

using scan::Answer;

namespace {

char letter(Answer answer)
{
    return answer == Answer::Hit       ? 'H'
           : answer == Answer::Miss    ? 'M'
           : answer == Answer::NoFrame ? 'N'
                                       : 'U';
}

// A classification that changes from frame to frame, so that any difference
// in which frame is chosen for a time shows.
bool oddPixel(const std::optional<Rgb> &pixel)
{
    return pixel && (pixel->r + pixel->g + pixel->b) % 2 == 1;
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

    void windowsComeFromTheGrid_data()
    {
        // Grid answers as letters from 0.0 s on: H hit, M miss, U only
        // frames left out near it, N no frame.
        QTest::addColumn<double>("coarseHit");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("hits");
        QTest::addColumn<QString>("unserved");
        const QString misses(201, 'M');
        QString black = misses;
        black.replace(40, 8, QString(8, 'H')); // 4.0 ... 4.7
        black[60] = 'U';
        QTest::newRow("both sides of the hit")
            << 5.0 << 20.0 << black << "4 4.1 4.2 4.3 4.4 4.5 4.6 4.7"
            << "6";
        QTest::newRow("clipped at the start")
            << 1.5 << 20.0 << QString(201, 'H')
            << "0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1 1.1 1.2 "
               "1.3 1.4 1.5 1.6 1.7 1.8 1.9 2 2.1 2.2 2.3 2.4 2.5 "
               "2.6 2.7 2.8 2.9 3 3.1 3.2 3.3 3.4 3.5"
            << "";
        QTest::newRow("at the end, nothing or only frames left out")
            << 8.5 << 9.95 << QString(99, 'N') + "U"
            << ""
            << "9.9";
    }

    void windowsComeFromTheGrid()
    {
        QFETCH(double, coarseHit);
        QFETCH(double, duration);
        QFETCH(QString, grid);
        QFETCH(QString, hits);
        QFETCH(QString, unserved);
        std::vector<Answer> answers;
        for (QChar c : grid)
            answers.push_back(c == 'H'   ? Answer::Hit
                              : c == 'U' ? Answer::Unserved
                              : c == 'N' ? Answer::NoFrame
                                         : Answer::Miss);
        QCOMPARE(answers.size(), scan::gridCount(duration));
        const scan::Window window = scan::refinementWindow(coarseHit, duration, answers);
        auto text = [](const std::vector<double> &times) {
            QStringList parts;
            for (double t : times)
                parts << QString::number(t, 'g', 6);
            return parts.join(' ');
        };
        QCOMPARE(text(window.hits), hits);
        QCOMPARE(text(window.unserved), unserved);
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
        // One decode of the reference frames answers every coarse time and
        // every time of the fine grid as the rule applied to the whole movie
        // does, and leaves exactly the times whose frame is not a reference to
        // a decode of their own.
        QFETCH(QString, movie);
        QFETCH(double, duration);
        QFETCH(bool, someUnserved);
        const std::string file = mediaPath(movie);

        const std::vector<RuleFrame> all = ruleFrames(file, oddPixel);
        QVERIFY(!all.empty());

        const std::vector<double> coarseTimes = scan::coarseTimes(duration);
        std::vector<Answer> coarseAnswers(coarseTimes.size(), Answer::NoFrame);
        std::vector<Answer> gridAnswers(scan::gridCount(duration), Answer::NoFrame);
        scan::FrameMatcher coarse(scan::requestsFor(coarseTimes), scan::coarseTolerance,
                                  [&](std::size_t i, double, Answer a) { coarseAnswers[i] = a; });
        scan::FrameMatcher fine({gridAnswers.size(), [](std::size_t k) { return k * 0.1; }},
                                scan::fineTolerance,
                                [&](std::size_t k, double, Answer a) { gridAnswers[k] = a; });
        auto reader = FrameReader::open(file);
        QVERIFY(reader->read(
            [&](double t) {
                fine.packet(t);
                coarse.packet(t);
                return FrameSkip::NonReference;
            },
            [&](const DecodedFrame &f) {
                const auto hit = [&f] { return oddPixel(f.pixel()); };
                fine.frame(f.time(), f.isReference(), hit);
                coarse.frame(f.time(), f.isReference(), hit);
                return true;
            }));
        coarse.finish();
        fine.finish();

        auto expected = [&](double t, double tolerance, bool referencesOnly) {
            const std::optional<RuleFrame> f = ruleChoice(all, t, tolerance, !referencesOnly);
            if (f && f->reference)
                return f->hit ? Answer::Hit : Answer::Miss;
            const bool leftOut = f || ruleChoice(all, t, tolerance);
            return leftOut ? Answer::Unserved : Answer::NoFrame;
        };
        std::size_t hits = 0;
        std::size_t unserved = 0;
        for (std::size_t i = 0; i < coarseTimes.size(); ++i)
            QVERIFY2(coarseAnswers[i] == expected(coarseTimes[i], scan::coarseTolerance, true),
                     qPrintable(QString("coarse %1").arg(coarseTimes[i])));
        for (std::size_t k = 0; k < gridAnswers.size(); ++k) {
            QVERIFY2(gridAnswers[k] == expected(k * 0.1, scan::fineTolerance, false),
                     qPrintable(QString("grid %1").arg(k * 0.1)));
            hits += gridAnswers[k] == Answer::Hit;
            unserved += gridAnswers[k] == Answer::Unserved;
        }
        QVERIFY(hits > 50); // the classification really varies
        QCOMPARE(unserved > 0, someUnserved);
    }
};

QTEST_MAIN(ScanFramesTest)
#include "test_scanframes.moc"
