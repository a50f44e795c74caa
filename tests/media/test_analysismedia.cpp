#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"
#include "media/FrameReader.h"
#include "media/Thumbnail.h"
#include "support/TestSupport.h"


#include <algorithm>
#include <cmath>

using namespace trimora;

namespace {

// The frame nearest to t, reduced both ways: straight from its planes, and
// through a 64 x 36 thumbnail.
struct Reduced
{
    double time = -1.0;
    std::optional<Rgb> pixel;
    std::optional<Thumbnail> thumbnail;
    bool ordinaryLuma = false; // mean luma certainly between black and white
};

Reduced nearestFrame(const QString &name, double t)
{
    Reduced best;
    if (auto reader = FrameReader::open(mediaPath(name))) {
        reader->read([](double) { return FrameSkip::Nothing; },
                     [&](const DecodedFrame &frame) {
                         if (std::abs(frame.time() - t) < std::abs(best.time - t))
                             best = {frame.time(), frame.pixel(), frame.thumbnail(64, 36),
                                     frame.lumaMeanBetween(0.5, 254.5)};
                         return frame.time() < t + 1.0;
                     });
    }
    return best;
}

// A whole file's sound at the waveform's rate, folded into its peaks.
struct Sound
{
    AudioReadStatus status = AudioReadStatus::NotStarted;
    std::size_t samples = 0;
    QVector<float> peaks;
};

Sound soundOf(const QString &name)
{
    Sound read;
    WaveformFold fold;
    read.status = readAudioRange(
        mediaPath(name), 0.0, 10.0, waveform::readRate,
        [&](const std::int16_t *samples, std::size_t count) {
            read.samples += count;
            foldSamples(fold, samples, count);
        },
        [] { return false; });
    read.peaks = finishFold(std::move(fold));
    return read;
}

Rgb thumbnailPixel(const Reduced &r)
{
    return r.thumbnail ? averagePixel(*r.thumbnail) : Rgb{1, 2, 3};
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

    void blackAndWhiteReduceExactlyBothWays_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("time");
        QTest::addColumn<int>("expected"); // 0 black, 255 white, -1 neither
        QTest::newRow("limited range black") << "scan.mp4" << 3.5 << 0;
        QTest::newRow("limited range white") << "scan.mp4" << 8.3 << 255;
        QTest::newRow("picture") << "scan.mp4" << 5.0 << -1;
        QTest::newRow("full range black") << "fullrange.mp4" << 0.5 << 0;
        QTest::newRow("full range white") << "fullrange.mp4" << 1.5 << 255;
        QTest::newRow("mpeg-2 picture") << "frames-mpeg2.mpg" << 2.0 << -1;
        QTest::newRow("black with a small white corner") << "frames-nearblack.mp4" << 0.5 << 0;
        QTest::newRow("dark grey") << "frames-darkgrey.mp4" << 0.5 << -1;
    }

    void blackAndWhiteReduceExactlyBothWays()
    {
        // The plane average and the thumbnail's average agree: exactly black or
        // white for those frames, near each other for an ordinary picture; and
        // only an ordinary picture is ruled out by its luma alone.
        QFETCH(QString, movie);
        QFETCH(double, time);
        QFETCH(int, expected);
        const Reduced r = nearestFrame(movie, time);
        QVERIFY(std::abs(r.time - time) < 0.03);
        QVERIFY(r.pixel);
        QVERIFY(r.thumbnail);
        QCOMPARE(r.thumbnail->width, 64);
        QCOMPARE(r.thumbnail->height, 36);
        const Rgb thumb = thumbnailPixel(r);
        QCOMPARE(r.ordinaryLuma, expected < 0);
        if (expected >= 0) {
            const auto v = static_cast<std::uint8_t>(expected);
            QCOMPARE(*r.pixel, (Rgb{v, v, v}));
            QCOMPARE(thumb, (Rgb{v, v, v}));
        } else {
            QVERIFY(*r.pixel != (Rgb{0, 0, 0}) && *r.pixel != (Rgb{255, 255, 255}));
            QVERIFY(qAbs(r.pixel->g - thumb.g) <= 8);
        }
    }

    void displayOrientationIsApplied()
    {
        // Stored 160x90 with the left half black; shown turned a quarter.
        const Reduced r = nearestFrame("rotated.mp4", 0.5);
        QVERIFY(r.thumbnail);
        const Thumbnail &t = *r.thumbnail;
        QCOMPARE(t.width, 20);
        QCOMPARE(t.height, 36);
        auto at = [&](int x, int y) { return t.rgb[(static_cast<size_t>(y) * t.width + x) * 3]; };
        QVERIFY(at(10, 2) > 200); // top: the stored right half, white
        QVERIFY(at(10, 33) < 50); // bottom: the stored left half, black
    }

    void audioRangeIsReadAsMono8kHz()
    {
        std::size_t total = 0;
        int chunks = 0;
        const auto status = readAudioRange(
            mediaPath("movie.mp4"), 0.0, 6.0, 8000,
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
            mediaPath("movie.mp4"), 4.0, 7.5, 8000,
            [&](const std::int16_t *s, std::size_t n) {
                total += n;
                for (std::size_t i = 0; i < n; ++i)
                    peak = std::max<std::int16_t>(peak, s[i]);
            },
            [] { return false; });
        QCOMPARE(total, std::size_t(28000));
        QVERIFY(peak > 1000); // the tone is there

        QCOMPARE(readAudioRange(
                     mediaPath("noaudio.mp4"), 0, 4, 8000, [](const std::int16_t *, std::size_t) {},
                     [] { return false; }),
                 AudioReadStatus::NotStarted);
        int calls = 0;
        QCOMPARE(readAudioRange(
                     mediaPath("movie.mp4"), 0, 6, 8000, [](const std::int16_t *, std::size_t) {},
                     [&] { return ++calls >= 2; }),
                 AudioReadStatus::Stopped);
    }

    // A decoder may change channel layout or sample rate between frames; the
    // reader must follow, not read planes that are not there or mistime samples.
    void channelCountDropsMidStream()
    {
        const Sound read = soundOf("stereo-then-mono.mp3");
        QCOMPARE(read.status, AudioReadStatus::Finished);
        // Two halves of 0.5 s, plus the encoders' padding.
        QVERIFY2(read.samples >= 7600 && read.samples <= 11000,
                 qPrintable(QString::number(read.samples)));
        // The tone (amplitude 1/8) is heard in the mono half too.
        const qsizetype n = read.peaks.size();
        QVERIFY(n > 10);
        QVERIFY(*std::max_element(read.peaks.begin() + n / 2, read.peaks.end() - 2) > 0.05f);
    }

    void sampleRateRisesMidStream()
    {
        // Resampled as 8 kHz input, the 22.05 kHz half would last 1.4 s.
        const Sound read = soundOf("rate-change.mp3");
        QCOMPARE(read.status, AudioReadStatus::Finished);
        QVERIFY2(read.samples >= 7600 && read.samples <= 11000,
                 qPrintable(QString::number(read.samples)));
    }
};

QTEST_MAIN(AnalysisMediaTest)
#include "test_analysismedia.moc"
