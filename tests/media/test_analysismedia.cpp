#include "media/AudioReader.h"
#include "media/FrameExtractor.h"
#include "media/Thumbnail.h"
#include "support/TestSupport.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace {

std::vector<FrameResult> extract(const QString &name, const std::vector<double> &times,
                                 double tolerance)
{
    std::vector<FrameResult> results;
    auto extractor = FrameExtractor::open(mediaPath(name), {.tolerance = tolerance});
    if (!extractor)
        return results;
    extractor->extract(times, [&](const FrameResult &r) {
        results.push_back(r);
        return true;
    });
    return results;
}

Rgb pixelOf(const FrameResult &r)
{
    return r.image ? averagePixel(*r.image) : Rgb{1, 2, 3};
}

} // namespace

class AnalysisMediaTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pureBlackAndWhiteConvertExactly()
    {
        const YuvMatrix bt709{0.2126, 0.0722};
        const YuvMatrix bt601{0.299, 0.114};
        for (const YuvMatrix &m : {bt709, bt601}) {
            QCOMPARE(yuvToRgb(16, 128, 128, false, m), (Rgb{0, 0, 0}));
            QCOMPARE(yuvToRgb(235, 128, 128, false, m), (Rgb{255, 255, 255}));
            QCOMPARE(yuvToRgb(0, 128, 128, true, m), (Rgb{0, 0, 0}));
            QCOMPARE(yuvToRgb(255, 128, 128, true, m), (Rgb{255, 255, 255}));
            // Out-of-range codes clamp instead of wrapping.
            QCOMPARE(yuvToRgb(4, 128, 128, false, m), (Rgb{0, 0, 0}));
            QCOMPARE(yuvToRgb(250, 128, 128, false, m), (Rgb{255, 255, 255}));
            // Just off black is not black.
            QVERIFY(yuvToRgb(17, 128, 128, false, m) != (Rgb{0, 0, 0}));
        }
    }

    void averageRoundsToNearest()
    {
        Thumbnail t{2, 1, {0, 0, 0, 255, 255, 1}};
        QCOMPARE(averagePixel(t), (Rgb{128, 128, 1}));
        Thumbnail white{64, 36, std::vector<std::uint8_t>(64 * 36 * 3, 255)};
        QCOMPARE(averagePixel(white), (Rgb{255, 255, 255}));
        QCOMPARE(averagePixel(Thumbnail{}), (Rgb{128, 128, 128}));
    }

    void limitedAndFullRangeFramesReduceToPureBlackAndWhite()
    {
        // scan.mp4 is limited range, fullrange.mp4 full range (black, then white).
        auto limited = extract("scan.mp4", {3.5, 8.3, 5.0}, 0.05);
        QCOMPARE(limited.size(), size_t(3));
        QCOMPARE(pixelOf(limited[0]), (Rgb{0, 0, 0}));
        QCOMPARE(pixelOf(limited[1]), (Rgb{255, 255, 255}));
        QVERIFY(limited[2].image);
        QVERIFY(pixelOf(limited[2]) != (Rgb{0, 0, 0}));
        QCOMPARE(limited[0].image->width, 64);
        QCOMPARE(limited[0].image->height, 36);

        auto full = extract("fullrange.mp4", {0.5, 1.5}, 0.25);
        QCOMPARE(full.size(), size_t(2));
        QCOMPARE(pixelOf(full[0]), (Rgb{0, 0, 0}));
        QCOMPARE(pixelOf(full[1]), (Rgb{255, 255, 255}));
    }

    void pixelOnlyReductionKeepsBlackAndWhiteExact()
    {
        auto pixels = [](const QString &name, const std::vector<double> &times, double tol) {
            std::vector<std::optional<Rgb>> out;
            auto extractor =
                FrameExtractor::open(mediaPath(name), {.tolerance = tol, .pixelOnly = true});
            if (extractor)
                extractor->extract(times, [&](const FrameResult &r) {
                    out.push_back(r.pixel);
                    return !r.image; // never a thumbnail in this mode
                });
            return out;
        };
        auto limited = pixels("scan.mp4", {3.5, 8.3, 5.0}, 0.05);
        QCOMPARE(limited.size(), size_t(3));
        QCOMPARE(limited[0], std::optional(Rgb{0, 0, 0}));
        QCOMPARE(limited[1], std::optional(Rgb{255, 255, 255}));
        // An ordinary picture stays near its thumbnail's average.
        QVERIFY(limited[2]);
        const Rgb thumb = pixelOf(extract("scan.mp4", {5.0}, 0.05)[0]);
        QVERIFY(qAbs(limited[2]->g - thumb.g) <= 8);
        auto full = pixels("fullrange.mp4", {0.5, 1.5}, 0.25);
        QCOMPARE(full.size(), size_t(2));
        QCOMPARE(full[0], std::optional(Rgb{0, 0, 0}));
        QCOMPARE(full[1], std::optional(Rgb{255, 255, 255}));
    }

    void tapSeesTheGridInOrderAndDecodesOnToTheEnd()
    {
        // 24 fps, B-frames: every frame comes by once, either classified (near
        // a multiple of 0.5 s) or as unknown, and the decode goes on past the
        // last request.
        std::vector<double> classified, unknown;
        const FrameTap tap{
            .spacing = 0.5,
            .tolerance = 0.05,
            .until = 12.5,
            .onFrame = [&](double t, std::optional<Rgb>) { classified.push_back(t); },
            .onUnknown = [&](double t) { unknown.push_back(t); }};
        auto extractor = FrameExtractor::open(mediaPath("movie.mp4"), {.pixelOnly = true});
        QVERIFY(extractor);
        QVERIFY(extractor->extract(
            {1.0, 2.0}, [](const FrameResult &) { return true; }, &tap));
        QVERIFY(std::is_sorted(classified.begin(), classified.end()));
        for (double t : classified)
            QVERIFY(qAbs(t * 2 - std::round(t * 2)) * 0.5 <= 0.75 / 24 + 1e-9);
        QVERIFY(classified.size() >= 25);               // the frame at every half second
        QVERIFY(qAbs(classified.back() - 12.0) < 1e-6); // far past the last request
        // The rest are reported, classified or not, up to the end.
        QVERIFY(classified.size() + unknown.size() >= 300);
        QVERIFY(*std::max_element(unknown.begin(), unknown.end()) > 12.4);
    }

    void nearestFrameWithinToleranceInAnyOrder()
    {
        // Frames are 0.04 s apart: 3.01 is nearest to the frame at 3.0.
        const std::vector<double> times = {3.01, 12.5, 3.99, 2.99, 30.0};
        auto results = extract("scan.mp4", times, 0.05);
        QCOMPARE(results.size(), times.size());
        for (size_t i = 0; i < times.size(); ++i)
            QCOMPARE(results[i].requested, times[i]);
        QVERIFY(qAbs(results[0].actual - 3.0) < 1e-6);
        QCOMPARE(pixelOf(results[0]), (Rgb{0, 0, 0}));
        QVERIFY(qAbs(results[2].actual - 4.0) < 1e-6); // 3.99 is nearer 4.00 than 3.96
        QVERIFY(pixelOf(results[2]) != (Rgb{0, 0, 0}));
        QVERIFY(qAbs(results[3].actual - 3.0) < 1e-6); // backwards after 3.99
        QVERIFY(results[1].image);
        QVERIFY(!results[4].image); // past the end: a failure, not the last frame
    }

    void displayOrientationIsApplied()
    {
        // Stored 160x90 with the left half black; shown turned a quarter.
        auto results = extract("rotated.mp4", {0.5}, 0.25);
        QCOMPARE(results.size(), size_t(1));
        QVERIFY(results[0].image);
        const Thumbnail &t = *results[0].image;
        QCOMPARE(t.width, 20);
        QCOMPARE(t.height, 36);
        auto at = [&](int x, int y) { return t.rgb[(static_cast<size_t>(y) * t.width + x) * 3]; };
        QVERIFY(at(10, 2) > 200); // top: the stored right half, white
        QVERIFY(at(10, 33) < 50); // bottom: the stored left half, black
    }

    void notAVideoGivesNoExtractor()
    {
        QVERIFY(!FrameExtractor::open(mediaPath("not_a_movie.mp4"), {}));
        QVERIFY(!FrameExtractor::open(mediaPath("empty.mp4"), {}));
        QVERIFY(!FrameExtractor::open("/dev/zero", {}));
    }

    void audioRangeIsReadAsMono8kHz()
    {
        std::size_t total = 0;
        int chunks = 0;
        const auto status = readAudioRange(
            mediaPath("movie.mp4"), 0.0, 6.0,
            [&](const std::int16_t *, std::size_t n) {
                total += n;
                ++chunks;
            },
            [] { return false; });
        QCOMPARE(status, AudioReadStatus::Finished);
        QCOMPARE(total, std::size_t(48000));
        QVERIFY(chunks > 1);

        // The middle of the movie: seeks, drops what lies before the start.
        total = 0;
        std::int16_t peak = 0;
        readAudioRange(
            mediaPath("movie.mp4"), 4.0, 7.5,
            [&](const std::int16_t *s, std::size_t n) {
                total += n;
                for (std::size_t i = 0; i < n; ++i)
                    peak = std::max<std::int16_t>(peak, s[i]);
            },
            [] { return false; });
        QCOMPARE(total, std::size_t(28000));
        QVERIFY(peak > 1000); // the tone is there

        QCOMPARE(readAudioRange(
                     mediaPath("noaudio.mp4"), 0, 4, [](const std::int16_t *, std::size_t) {},
                     [] { return false; }),
                 AudioReadStatus::NotStarted);
        int calls = 0;
        QCOMPARE(readAudioRange(
                     mediaPath("movie.mp4"), 0, 6, [](const std::int16_t *, std::size_t) {},
                     [&] { return ++calls >= 2; }),
                 AudioReadStatus::Stopped);
    }
};

QTEST_MAIN(AnalysisMediaTest)
#include "test_analysismedia.moc"
