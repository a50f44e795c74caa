#include "analysis/BlackWhiteScan.h"
#include "analysis/ScanLogic.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/FrameRule.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>

#include <cmath>
#include <functional>

using namespace trimora;

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

} // namespace

class ScanTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void coarseAndRefinementGrids()
    {
        const auto t = scan::coarseTimes(10.3);
        QCOMPARE(t.size(), size_t(21));
        QCOMPARE(t.back(), 10.0);
        compareTimes(scan::coarseTimes(0.3), {0.0, 0.3});
        const auto w = scan::refinementTimes(1.5, 20.0); // clipped at 0
        QCOMPARE(w.front(), 0.0);
        QCOMPARE(w.size(), size_t(36));
        QVERIFY(scan::refinementTimes(19.5, 20.0).back() <= 20.0);
    }

    void coarseHitRules()
    {
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

    void runsAreSplitFilteredAndChosen()
    {
        auto grid = [](double from, int count) {
            std::vector<double> v;
            for (int i = 0; i < count; ++i)
                v.push_back(from + i * 0.1);
            return v;
        };
        QVERIFY(!scan::bestRunMidpoint(grid(10.0, 5), 10.0));                     // 0.4 s: dropped
        QVERIFY(qAbs(*scan::bestRunMidpoint(grid(10.0, 7), 10.0) - 10.3) < 1e-9); // 0.6 s
        // One missing sample splits a run in two short ones.
        auto gap = grid(10.0, 4);
        for (double t : grid(10.5, 4))
            gap.push_back(t);
        QVERIFY(!scan::bestRunMidpoint(gap, 10.0));
        // Two runs, 0.3 and 1.2 s from the hit: the nearer wins, given in any order.
        auto two = grid(11.0, 7);
        for (double t : grid(9.0, 7))
            two.push_back(t);
        QVERIFY(qAbs(*scan::bestRunMidpoint(two, 10.0) - 9.3) < 1e-9);
        // Equally near: the earlier run.
        auto tie = grid(8.7, 7);
        for (double t : grid(10.7, 7))
            tie.push_back(t);
        QVERIFY(qAbs(*scan::bestRunMidpoint(tie, 10.0) - 9.0) < 1e-9);
    }

    void thinningAndProgress()
    {
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
        model.startScan(); // nothing loaded: nothing happens
        QVERIFY(!model.isScanning());
        QVERIFY(loadAndWait(model, QStringLiteral("scan.mp4")));
        model.startScan();
        QVERIFY(model.isScanning());
        QVERIFY(waitFor([&] { return !model.isScanning(); }, 30000));
        QVERIFY(model.hasScanned());
        QCOMPARE(model.scanProgress(), 1.0);
        const QVector<double> found = model.blackWhiteFrames();
        compareTimes({found.begin(), found.end()}, {3.5, 8.3, 16.75}, 1e-6);

        // The markers 3.5, 8.3 and 16.75: one within 0.1 s counts as passed.
        model.seek(8.35);
        for (const auto &[next, expected] : std::vector<std::pair<bool, double>>{
                 {false, 3.5}, {true, 8.3}, {true, 16.75}, {true, 16.75}, {false, 8.3}}) {
            next ? model.goToNextMarker() : model.goToPreviousMarker();
            QVERIFY2(qAbs(model.currentTime() - expected) < 1e-6,
                     qPrintable(QString::number(model.currentTime())));
        }

        // A new scan clears the markers, keeps hasScanned and shows progress.
        model.startScan();
        QVERIFY(model.blackWhiteFrames().isEmpty());
        QVERIFY(model.hasScanned());
        QCOMPARE(model.scanProgress(), 0.0);
        model.cancelScan();
        QVERIFY(!model.isScanning());
        QTest::qWait(300);
        QVERIFY(!model.isScanning());

        for (int round = 0; round < 3; ++round) {
            model.startScan();
            QTest::qWait(round * 20); // the first scan at different points
            QSignalSpy scanning(&model, &VideoEditorViewModel::isScanningChanged);
            QSignalSpy frames(&model, &VideoEditorViewModel::blackWhiteFramesChanged);
            model.startScan();
            QVERIFY(waitFor([&] { return !model.isScanning(); }, 30000));
            QTest::qWait(200);
            // One change only, the second scan's own ending, with its result.
            QCOMPARE(scanning.count(), 1);
            QCOMPARE(frames.count(), 1);
            QCOMPARE(model.blackWhiteFrames().size(), 3);
            QCOMPARE(model.scanProgress(), 1.0);
        }
        // Loading another movie drops the running scan: it writes nothing after.
        model.startScan();
        model.loadVideo(QUrl::fromLocalFile(media("movie.mp4")));
        QSignalSpy frames(&model, &VideoEditorViewModel::blackWhiteFramesChanged);
        QTest::qWait(1500);
        QCOMPARE(frames.count(), 0);
        QVERIFY(!model.isScanning());
    }
};

QTEST_MAIN(ScanTest)
#include "test_scan.moc"
