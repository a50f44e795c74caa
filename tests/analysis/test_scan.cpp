#include "analysis/BlackWhiteScan.h"
#include "analysis/FrameMatcher.h"
#include "analysis/ScanLogic.h"
#include "analysis/WaveformFold.h"
#include "media/FrameReader.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/FrameRule.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <cmath>
#include <functional>
#include <random>

using namespace trimora;
using scan::Answer;

namespace {

// Records a scan's reports; onProgress may cancel the task at a chosen point.
struct RecordingSink : ScanSink
{
    std::vector<double> progressValues;
    std::function<void(double)> onProgress;
    QString ending;
    std::vector<double> markers;

    void progress(double value) override
    {
        progressValues.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void finished(const std::vector<double> &m) override
    {
        ending += "finished";
        markers = m;
    }
    void cancelledInCoarsePass() override { ending += "coarse"; }
    void cancelledInRefinement(const std::vector<double> &hits) override
    {
        ending += "refinement";
        markers = hits;
    }
};

void compareTimes(const std::vector<double> &actual, const std::vector<double> &expected,
                  double slack = 1e-9)
{
    QCOMPARE(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        QVERIFY2(qAbs(actual[i] - expected[i]) <= slack,
                 qPrintable(QString("%1 vs %2").arg(actual[i]).arg(expected[i])));
}

std::vector<double> markersByRule(const std::string &path, double duration)
{
    const std::vector<RuleFrame> frames =
        ruleFrames(path, [](const std::optional<Rgb> &p) { return p && scan::isBlackOrWhite(*p); });
    auto hitByRule = [&](double t, double tolerance, bool othersCount) {
        const std::optional<RuleFrame> f = ruleChoice(frames, t, tolerance, othersCount);
        return f && f->hit;
    };
    std::vector<double> coarseHits;
    for (double t : scan::coarseTimes(duration)) {
        if (hitByRule(t, scan::coarseTolerance, false) &&
            scan::acceptsCoarseHit(coarseHits, t, duration))
            coarseHits.push_back(t);
    }
    std::vector<double> refined;
    for (double c : coarseHits) {
        std::vector<double> hits;
        for (double t : scan::refinementTimes(c, duration)) {
            if (hitByRule(t, scan::fineTolerance, true))
                hits.push_back(t);
        }
        if (const std::optional<double> mid = scan::bestRunMidpoint(hits, c))
            refined.push_back(*mid);
    }
    return scan::thinMarkers(refined);
}

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

QVector<float> foldInChunks(const std::vector<std::int16_t> &samples,
                            const std::vector<std::size_t> &cuts)
{
    WaveformFold fold;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        foldSamples(fold, samples.data() + from, cut - from);
        from = cut;
    }
    foldSamples(fold, samples.data() + from, samples.size() - from);
    return finishFold(std::move(fold));
}

} // namespace

// The two reads of a loaded movie's content: the black and white scan and
// the waveform.
class ScanTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void coarseGridAndHits()
    {
        const auto t = scan::coarseTimes(10.3);
        QCOMPARE(t.size(), size_t(21));
        QCOMPARE(t.back(), 10.0);
        compareTimes(scan::coarseTimes(0.3), {0.0, 0.3});
        QVERIFY(!scan::acceptsCoarseHit({}, 1.0, 20.0));
        QVERIFY(!scan::acceptsCoarseHit({}, 19.0, 20.0));
        QVERIFY(scan::acceptsCoarseHit({}, 1.5, 20.0));
        QVERIFY(!scan::acceptsCoarseHit({10.0}, 10.5, 20.0));
        QVERIFY(!scan::acceptsCoarseHit({10.0}, 11.0, 20.0));
        QVERIFY(scan::acceptsCoarseHit({10.0}, 11.5, 20.0));
        QVERIFY(scan::isBlackOrWhite({0, 0, 0}));
        QVERIFY(scan::isBlackOrWhite({255, 255, 255}));
        QVERIFY(!scan::isBlackOrWhite({0, 0, 1}));
        QVERIFY(!scan::isBlackOrWhite({128, 128, 128}));
    }

    void onlyExtremeLumaCanBeBlackOrWhite()
    {
        // The scan rules frames out by their mean luma before reducing them:
        // no colour that reduces to black or white may lie between the bounds.
        int extremes = 0;
        for (bool fullRange : {false, true}) {
            for (const YuvMatrix &m : {YuvMatrix{0.2126, 0.0722}, YuvMatrix{0.299, 0.114}}) {
                for (double y = 0; y <= 255; y += 0.25) {
                    const double luma = fullRange ? y : (y - 16.0) * 255.0 / 219.0;
                    for (int cb = 0; cb <= 256; cb += 8) {
                        for (int cr = 0; cr <= 256; cr += 8) {
                            if (!scan::isBlackOrWhite(yuvToRgb(y, cb, cr, fullRange, m)))
                                continue;
                            ++extremes;
                            QVERIFY2(luma < scan::blackLumaBelow || luma >= scan::whiteLumaFrom,
                                     qPrintable(QString("%1 %2 %3").arg(y).arg(cb).arg(cr)));
                        }
                    }
                }
            }
        }
        QVERIFY(extremes > 100);
    }

    void runsAreSplitChosenAndThinned()
    {
        // Runs of 0.1 s samples, each {from, count}, around a coarse hit at 10.
        auto runs = [](std::initializer_list<std::pair<double, int>> list) {
            std::vector<double> v;
            for (const auto &[from, count] : list) {
                for (int i = 0; i < count; ++i)
                    v.push_back(from + i * 0.1);
            }
            return v;
        };
        // 0.4 s is too short, and so are the halves of a run one sample splits;
        // of two runs the nearer wins, in any order, and on a tie the earlier.
        QVERIFY(!scan::bestRunMidpoint(runs({{10.0, 5}}), 10.0));
        QVERIFY(!scan::bestRunMidpoint(runs({{10.0, 4}, {10.5, 4}}), 10.0));
        for (const auto &[samples, mid] : std::vector<std::pair<std::vector<double>, double>>{
                 {runs({{10.0, 7}}), 10.3},
                 {runs({{11.0, 7}, {9.0, 7}}), 9.3},
                 {runs({{8.7, 7}, {10.7, 7}}), 9.0}})
            QVERIFY(qAbs(scan::bestRunMidpoint(samples, 10.0).value_or(-1.0) - mid) < 1e-9);

        compareTimes(scan::thinMarkers({12.0, 10.0, 10.8}), {10.0, 12.0});
        compareTimes(scan::thinMarkers({10.0, 11.2}), {10.0, 11.2});
        compareTimes(scan::thinMarkers({10.0, 11.0}), {10.0});
        QCOMPARE(scan::refinementProgress(1, 0), 1.0);
    }

    void markersAsTheRuleGivesThem_data()
    {
        // Where known, the markers too: black 3-3.95 s, white 0.65 s from 8 s,
        // a black 0.45 s stretch too short to count, and 1.55 s of black found
        // twice by the coarse pass but kept once. Each sample is answered by a
        // reference frame within 0.05 s where there is one: the sample at 3.0
        // has reference frames at 2.96 (not yet black) and in all but the
        // sparse coding at 3.04, a tie the earlier wins, so the first run is
        // 3.1-3.9. In the sparse codings the samples without a reference frame
        // near them (3.2, 3.3, ...) are decoded on their own.
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("markers");
        const QString known = QStringLiteral("3.5 8.3 16.75");
        QTest::newRow("b-frames") << "scan.mp4" << 20.0 << 3 << known;
        QTest::newRow("pyramid") << "scan-pyramid.mkv" << 20.0 << 3 << known;
        QTest::newRow("every fourth a reference") << "scan-sparse.mp4" << 20.0 << 3 << known;
        QTest::newRow("the same in mpeg-ts from 10 s")
            << "scan-sparse-offset.ts" << 20.0 << 3 << known;
        QTest::newRow("80 s, two halves at once") << "scan-long.mp4" << 80.0 << 4 << "";
        QTest::newRow("80 s in mpeg-ts, the second half found by timestamp")
            << "scan-long.ts" << 80.0 << 4 << "";
        QTest::newRow("2 s of black: too short") << "black2s.mp4" << 2.0 << 0 << "";
        QTest::newRow("no picture") << "not_a_movie.mp4" << 3.0 << 0 << "";
    }

    void markersAsTheRuleGivesThem()
    {
        QFETCH(QString, movie);
        QFETCH(double, duration);
        QFETCH(int, count);
        QFETCH(QString, markers);
        const std::vector<double> expected = markersByRule(mediaPath(movie), duration);
        QCOMPARE(static_cast<int>(expected.size()), count);
        RecordingSink sink;
        scanBlackWhite(mediaPath(movie), duration, makeTask(), sink);
        QCOMPARE(sink.ending, QString("finished"));
        compareTimes(sink.markers, expected);
        if (!markers.isEmpty()) {
            std::vector<double> known;
            for (const QString &m : markers.split(' '))
                known.push_back(m.toDouble());
            compareTimes(sink.markers, known, 1e-6);
        }
    }

    void progressThroughBothPasses()
    {
        RecordingSink sink;
        scanBlackWhite(mediaPath("scan12.mp4"), 12.0, makeTask(), sink);
        QCOMPARE(sink.ending, QString("finished"));
        QCOMPARE(sink.progressValues.size(), size_t(4));
        QVERIFY(qFuzzyCompare(sink.progressValues[0], 0.28));
        QVERIFY(qFuzzyCompare(sink.progressValues[1], 0.56));
        QVERIFY(qFuzzyCompare(sink.progressValues[2], 0.85));
        QCOMPARE(sink.progressValues[3], 1.0);
    }

    void cancellingInEachPass()
    {
        TaskHandle coarseTask = makeTask();
        RecordingSink coarse;
        coarse.onProgress = [&](double) { coarseTask->cancel(); };
        scanBlackWhite(mediaPath("scan.mp4"), 20.0, coarseTask, coarse);
        QCOMPARE(coarse.ending, QString("coarse"));
        QCOMPARE(coarse.progressValues.size(), size_t(1));
        QVERIFY(coarse.markers.empty());

        // Cancelled after the first refinement window: the coarse hits remain
        // (3.0 is not one: its reference frame is the one at 2.96).
        TaskHandle fineTask = makeTask();
        RecordingSink fine;
        fine.onProgress = [&](double value) {
            if (value > 0.7)
                fineTask->cancel();
        };
        scanBlackWhite(mediaPath("scan.mp4"), 20.0, fineTask, fine);
        QCOMPARE(fine.ending, QString("refinement"));
        compareTimes(fine.markers, {3.5, 8.0, 13.0, 16.0, 17.5});
    }

    void modelPublishesStepsToAndReplacesTheResult()
    {
        VideoEditorViewModel model;
        model.analysis()->startScan(); // nothing loaded: nothing happens
        QVERIFY(!model.analysis()->isScanning());
        QVERIFY(loadAndWait(model, QStringLiteral("scan.mp4")));
        model.analysis()->startScan();
        QVERIFY(model.analysis()->isScanning());
        QVERIFY(waitFor([&] { return !model.analysis()->isScanning(); }, 30000));
        QVERIFY(model.analysis()->hasScanned());
        QCOMPARE(model.analysis()->scanProgress(), 1.0);
        const QVector<double> found = model.analysis()->blackWhiteFrames();
        compareTimes({found.begin(), found.end()}, {3.5, 8.3, 16.75}, 1e-6);

        // The markers 3.5, 8.3 and 16.75: one within 0.1 s counts as passed.
        model.transport()->seek(8.35);
        for (const auto &[next, expected] : std::vector<std::pair<bool, double>>{
                 {false, 3.5}, {true, 8.3}, {true, 16.75}, {true, 16.75}, {false, 8.3}}) {
            next ? model.goToNextMarker() : model.goToPreviousMarker();
            QVERIFY2(qAbs(model.transport()->currentTime() - expected) < 1e-6,
                     qPrintable(QString::number(model.transport()->currentTime())));
        }

        // A new scan clears the markers, keeps hasScanned and shows progress.
        model.analysis()->startScan();
        QVERIFY(model.analysis()->blackWhiteFrames().isEmpty());
        QVERIFY(model.analysis()->hasScanned());
        QCOMPARE(model.analysis()->scanProgress(), 0.0);
        model.analysis()->cancelScan();
        QVERIFY(!model.analysis()->isScanning());
        QTest::qWait(300);
        QVERIFY(!model.analysis()->isScanning());

        for (int round = 0; round < 3; ++round) {
            model.analysis()->startScan();
            QTest::qWait(round * 20); // the first scan at different points
            QSignalSpy scanning(model.analysis(), &Analysis::isScanningChanged);
            QSignalSpy frames(model.analysis(), &Analysis::blackWhiteFramesChanged);
            model.analysis()->startScan();
            QVERIFY(waitFor([&] { return !model.analysis()->isScanning(); }, 30000));
            QTest::qWait(200);
            // One change only, the second scan's own ending, with its result.
            QCOMPARE(scanning.count(), 1);
            QCOMPARE(frames.count(), 1);
            QCOMPARE(model.analysis()->blackWhiteFrames().size(), 3);
            QCOMPARE(model.analysis()->scanProgress(), 1.0);
        }
        // Loading another movie drops the running scan: it writes nothing after.
        model.analysis()->startScan();
        model.loadVideo(QUrl::fromLocalFile(media("movie.mp4")));
        QSignalSpy frames(model.analysis(), &Analysis::blackWhiteFramesChanged);
        QTest::qWait(1500);
        QCOMPARE(frames.count(), 0);
        QVERIFY(!model.analysis()->isScanning());
    }

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

    void foldMakesBucketsOf266()
    {
        std::vector<std::int16_t> samples(600, 0);
        samples[10] = 16384;   // bucket 0
        samples[300] = -32768; // bucket 1: just above 1
        samples[599] = 3277;   // bucket 2, the unfinished one of 68 samples
        QCOMPARE(foldInChunks(samples, {}),
                 (QVector<float>{16384.0f / 32767.0f, 32768.0f / 32767.0f, 3277.0f / 32767.0f}));
        QCOMPARE(foldInChunks(std::vector<std::int16_t>(532, 5), {}).size(), 2);
        QCOMPARE(foldInChunks({}, {}).size(), 0);
    }

    // However the decoder cuts its output, a bucket spanning two chunks is one value.
    void chunkBoundariesNeverChangeTheValues()
    {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> sample(-32768, 32767);
        std::vector<std::int16_t> samples(1000);
        for (auto &s : samples)
            s = static_cast<std::int16_t>(sample(random));
        const QVector<float> whole = foldInChunks(samples, {});
        QCOMPARE(whole.size(), 4);
        for (std::size_t cut = 0; cut <= samples.size(); ++cut)
            QCOMPARE(foldInChunks(samples, {cut}), whole);
        std::uniform_int_distribution<std::size_t> position(0, samples.size());
        for (int round = 0; round < 200; ++round) {
            std::vector<std::size_t> cuts(5);
            for (auto &c : cuts)
                c = position(random);
            std::sort(cuts.begin(), cuts.end());
            QCOMPARE(foldInChunks(samples, cuts), whole);
        }
    }

    void readsFollowThePlayhead()
    {
        VideoEditorViewModel model;
        model.loadVideo(QUrl::fromLocalFile(media("movie.mp4")));
        QVERIFY(waitFor([&] { return !model.analysis()->waveformSamples().isEmpty(); }, 10000));
        QCOMPARE(model.analysis()->waveformStartTime(), 0.0);
        QCOMPARE(model.analysis()->waveformSamples().size(),
                 181); // [0, 6]: 48000 samples, 180 buckets + 1
        QCOMPARE(model.analysis()->lastWaveformCenter(), 0.0);
        // Exactly 3 s from the last centre is not far enough; a little more is.
        model.analysis()->updateWaveformIfNeeded(3.0);
        QCOMPARE(model.analysis()->lastWaveformCenter(), 0.0);
        model.analysis()->updateWaveformIfNeeded(3.0001);
        QCOMPARE(model.analysis()->lastWaveformCenter(), 3.0001);
        // The read of [0, 9.0001] still starts at 0.
        QVERIFY(waitFor([&] { return model.analysis()->waveformSamples().size() > 200; }, 10000));
        QCOMPARE(model.analysis()->waveformStartTime(), 0.0);
    }

    void seekNearTheEndReadsTheLastWindow()
    {
        VideoEditorViewModel model;
        model.loadVideo(QUrl::fromLocalFile(media("long103.mp4")));
        QVERIFY(waitFor([&] { return !model.analysis()->waveformSamples().isEmpty(); }, 10000));
        model.transport()->seek(100.0);
        QVERIFY(waitFor([&] { return model.analysis()->waveformStartTime() == 94.0; }, 10000));
        // [94, 103]: 72000 samples, 270 full buckets and a part.
        QVERIFY2(qAbs(model.analysis()->waveformSamples().size() - 271) <= 1,
                 qPrintable(QString::number(model.analysis()->waveformSamples().size())));
    }

    // A movie without sound publishes nothing, and neither does a read of the
    // movie shown before, however late it finishes.
    void onlyTheShownMoviesSoundIsPublished()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("movie.mp4")));
        model.transport()->seek(9.0); // a read of movie.mp4 under way
        QSignalSpy spy(model.analysis(), &Analysis::waveformSamplesChanged);
        QVERIFY(loadAndWait(model, QStringLiteral("noaudio.mp4")));
        spy.clear(); // the load itself clears the strip
        QTest::qWait(1000);
        QVERIFY(model.analysis()->waveformSamples().isEmpty());
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_MAIN(ScanTest)
#include "test_scan.moc"
