#include "analysis/RefinementFrames.h"
#include "analysis/ScanLogic.h"
#include "media/FrameExtractor.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

#include <algorithm>

namespace {

// A classification that changes from frame to frame, so that any difference
// in which frame is chosen for a time shows.
bool oddPixel(const std::optional<Rgb> &pixel)
{
    return pixel && (pixel->r + pixel->g + pixel->b) % 2 == 1;
}

// Feeds 25 fps frames from `from` up to `to`; hit decides each frame.
template <class Hit> void feed(scan::RefinementFrames &frames, int from, int to, Hit hit)
{
    for (int i = from; i < to; ++i)
        frames.addFrame(i * 0.04, hit(i));
}

} // namespace

class ScanFramesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowIsSettledOnceTheDecodePassesItsEnd()
    {
        // Black from frame 100 (4.00 s) to frame 117 (4.68 s) inclusive.
        scan::RefinementFrames frames(20.0);
        auto black = [](int i) { return i >= 100 && i <= 117; };
        feed(frames, 0, 126, black); // up to 5.00 s
        frames.addCoarseHit(5.0);
        feed(frames, 126, 176, black); // up to 7.00 s: 7.0 + tolerance not passed
        QVERIFY(!frames.windows()[0].settled);
        feed(frames, 176, 178, black); // 7.04 > 7.05? no; 7.08 is
        QVERIFY(frames.windows()[0].settled);
        const auto &hits = frames.windows()[0].hits;
        // 4.0 ... 4.7: 4.7 lies between 4.68 and 4.72, nearest is within 0.02
        // either way; the samples from 4.0 to 4.6 are certain.
        QVERIFY(hits.size() >= 7 && hits.size() <= 8);
        QVERIFY(qAbs(hits.front() - 4.0) < 1e-9);
        QVERIFY(qAbs(hits[6] - 4.6) < 1e-9);
        QVERIFY(frames.windows()[0].unserved.empty());
    }

    void framesBeyondTheToleranceDoNotCount()
    {
        // Frames only every 0.2 s: the odd tenths have no frame within 0.05 s.
        scan::RefinementFrames frames(20.0);
        for (int i = 0; i <= 50; ++i)
            frames.addFrame(i * 0.2, true);
        frames.addCoarseHit(5.0);
        frames.finish();
        const auto &hits = frames.windows()[0].hits;
        QCOMPARE(hits.size(), size_t(21)); // 3.0, 3.2, ... 7.0
        for (double t : hits)
            QVERIFY(qAbs(t * 5.0 - std::round(t * 5.0)) < 1e-9);
    }

    void decodeEndingSettlesWhatIsOpen()
    {
        // The movie ends at 10 s; the window of 9.0 reaches it.
        scan::RefinementFrames frames(10.0);
        frames.addCoarseHit(1.5); // window clipped at 0
        feed(frames, 0, 226, [](int) { return true; });
        frames.addCoarseHit(9.0);
        feed(frames, 226, 250, [](int) { return true; });
        QVERIFY(frames.windows()[0].settled);
        QVERIFY(!frames.windows()[1].settled);
        frames.finish();
        QVERIFY(frames.windows()[1].settled);
        QCOMPARE(frames.windows()[0].hits, scan::refinementTimes(1.5, 10.0));
        // 7.0 ... 9.9 have frames; 10.0 is 0.04 s after the last one at 9.96.
        QCOMPARE(frames.windows()[1].hits.size(), size_t(31));
    }

    void memoryStaysBoundedOverAnHour()
    {
        scan::RefinementFrames frames(3600.0);
        std::size_t most = 0;
        for (int i = 0; i < 3600 * 25; ++i) {
            const double t = i * 0.04;
            frames.addFrame(t, i % 7 == 0);
            if (i % 12 == 0 && i > 0) { // a coarse time every 0.48 s, near enough
                if (i % (25 * 60) == 0)
                    frames.addCoarseHit(t);
                else
                    frames.passCoarseTime(t);
            }
            most = std::max(most, frames.framesHeld());
        }
        frames.finish();
        QVERIFY2(most < 25 * 5, qPrintable(QString::number(most)));
        QCOMPARE(frames.windows().size(), size_t(59)); // one a minute
    }

    void gridTimes()
    {
        QVERIFY(scan::onFineGrid(0.0));
        QVERIFY(scan::onFineGrid(8.5 + 3 * 0.1));
        QVERIFY(scan::onFineGrid(598.0 + 39 * 0.1));
        QVERIFY(!scan::onFineGrid(0.05));
        QVERIFY(!scan::onFineGrid(599.97));
        QVERIFY(!scan::onFineGrid(-0.1));
    }

    void settledWindowsEqualPerWindowExtraction_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("duration");
        QTest::newRow("25 fps, ties between frames") << "scan.mp4" << 20.0;
        QTest::newRow("24 fps, B-frames") << "movie.mp4" << 12.5;
    }

    void settledWindowsEqualPerWindowExtraction()
    {
        // A window around every coarse time: the decode watching the grid must
        // pick, for every refinement time, the frame a refinement extractor
        // picks on its own.
        QFETCH(QString, movie);
        QFETCH(double, duration);
        const std::string file = mediaPath(movie);
        scan::RefinementFrames frames(duration);
        std::vector<double> centres;
        const FrameTap tap{
            .spacing = scan::fineSpacing,
            .tolerance = scan::fineTolerance,
            .until = duration + scan::fineTolerance,
            .onFrame = [&](double time,
                           std::optional<Rgb> pixel) { frames.addFrame(time, oddPixel(pixel)); },
            .onUnknown = [&](double time) { frames.addUnknownFrame(time); }};
        auto coarse =
            FrameExtractor::open(file, {.tolerance = scan::coarseTolerance, .pixelOnly = true});
        QVERIFY(coarse);
        QVERIFY(coarse->extract(
            scan::coarseTimes(duration),
            [&](const FrameResult &r) {
                if (r.requested > 1.0 && r.requested < duration - 1.0) {
                    centres.push_back(r.requested);
                    frames.addCoarseHit(r.requested);
                }
                return true;
            },
            &tap));
        frames.finish();
        QCOMPARE(frames.windows().size(), centres.size());

        // Every frame decoded: the nearest frame, whatever the skipping does.
        auto fine = FrameExtractor::open(
            file,
            {.tolerance = scan::fineTolerance, .skipUnneededFrames = false, .pixelOnly = true});
        QVERIFY(fine);
        auto hitsAt = [&](const std::vector<double> &times) {
            std::vector<double> hits;
            fine->extract(times, [&](const FrameResult &r) {
                if (oddPixel(r.pixel))
                    hits.push_back(r.requested);
                return true;
            });
            return hits;
        };
        std::size_t total = 0;
        std::size_t unserved = 0;
        for (std::size_t j = 0; j < centres.size(); ++j) {
            const scan::RefinementFrames::Window &window = frames.windows()[j];
            QVERIFY(window.settled);
            std::vector<double> actual = window.hits;
            for (double t : hitsAt(window.unserved))
                actual.push_back(t);
            std::sort(actual.begin(), actual.end());
            const std::vector<double> expected =
                hitsAt(scan::refinementTimes(centres[j], duration));
            QVERIFY2(actual == expected, qPrintable(QString("window at %1").arg(centres[j])));
            total += expected.size();
            unserved += window.unserved.size();
        }
        QVERIFY(unserved <= 2 * centres.size()); // only at the very end of the movie
        QVERIFY(total > 100);                    // the classification really varies
    }
};

QTEST_MAIN(ScanFramesTest)
#include "test_scanframes.moc"
