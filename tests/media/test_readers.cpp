#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"
#include "media/CutSource.h"
#include "media/FrameReader.h"
#include "media/OutputCheck.h"
#include "media/Thumbnail.h"
#include "support/FrameRule.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <algorithm>
#include <cmath>

using namespace trimora;

// How the media readers see real movies of every container: the frames and
// their reduction, the sound, what is read for cutting, and the check of a
// file the tool wrote.
namespace {

using Seen = RuleFrame;

std::vector<Seen> readAll(const QString &name, FrameSkip skip)
{
    return ruleFrames(mediaPath(name), {}, skip);
}

std::vector<double> timesOf(const std::vector<Seen> &seen, bool referencesOnly = false)
{
    std::vector<double> times;
    for (const Seen &s : seen) {
        if (s.reference || !referencesOnly)
            times.push_back(s.time);
    }
    return times;
}

struct Read
{
    bool opened = false;
    std::optional<SourceLayout> layout;
    std::optional<VideoIndex> index;
};

Read readSource(
    const QString &name, const std::function<bool()> &cancelled = [] { return false; })
{
    Read read;
    read.opened = readCutSource(
        mediaPath(name), cancelled, [&](SourceLayout layout) { read.layout = std::move(layout); },
        [&](VideoIndex index) { read.index = std::move(index); });
    return read;
}

QStringList probeLines(const QString &file, const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  QStringList{"-v", "error", "-of", "csv=p=0"} + args + QStringList{file});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// The video's keyframe times as ffprobe reads the packets, from the origin.
std::vector<double> probedKeyframes(const QString &file)
{
    const double origin =
        probeLines(file, {"-show_entries", "format=start_time"}).value(0).toDouble();
    std::vector<double> keys;
    for (const QString &line :
         probeLines(file, {"-select_streams", "v:0", "-show_entries", "packet=pts_time,flags"})) {
        if (line.section(',', 1).contains(QLatin1Char('K')))
            keys.push_back(line.section(',', 0, 0).toDouble() - origin);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

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

Q_DECLARE_METATYPE(std::vector<ExpectedStream>)

class ReadersTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyFrameOnceKeptWhenSkippingAndAfterASeek_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("keptShare"); // of all frames, roughly
        QTest::addColumn<double>("seekTo");
        QTest::newRow("mp4, seek to a keyframe") << "mx-h264.mp4" << 150 << 0.04 << 0.67 << 4.0;
        QTest::newRow("mov") << "mx.mov" << 150 << 0.04 << 0.67 << 3.0;
        QTest::newRow("mpeg-ts, start codes") << "mx.ts" << 150 << 0.04 << 0.67 << 3.0;
        QTest::newRow("mp4 starting at 10 s") << "mx-offset10.mp4" << 150 << 0.04 << 0.67 << 5.0;
        QTest::newRow("mpeg-ts starting at 10 s") << "mx-offset10.ts" << 150 << 0.04 << 0.67 << 3.0;
        QTest::newRow("mkv, two sound tracks, seek near the end")
            << "mx-multi.mkv" << 150 << 0.04 << 0.67 << 5.9;
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4" << 180 << 1001.0 / 30000 << 0.67 << 3.0;
        QTest::newRow("every fourth a reference")
            << "scan-sparse.mp4" << 500 << 0.04 << 0.25 << 12.3;
        QTest::newRow("every fourth, mpeg-ts")
            << "scan-sparse-offset.ts" << 500 << 0.04 << 0.25 << 12.3;
        QTest::newRow("pyramid") << "scan-pyramid.mkv" << 500 << 0.04 << 0.5 << 7.0;
        QTest::newRow("without b-frames") << "frames-nob.mp4" << 100 << 0.04 << 1.0 << 2.5;
        QTest::newRow("hevc mp4, sample flags") << "mx-hevc.mp4" << 150 << 0.04 << 0.5 << 3.0;
        QTest::newRow("hevc mkv, lengths") << "frames-hevc.mkv" << 100 << 0.04 << 0.5 << 2.5;
        QTest::newRow("hevc mpeg-ts, start codes") << "frames-hevc.ts" << 100 << 0.04 << 0.5 << 2.5;
        QTest::newRow("mpeg-2 program stream") << "frames-mpeg2.mpg" << 100 << 0.04 << 0.33 << 2.5;
        QTest::newRow("vp9 webm, opus first: nothing to leave out")
            << "mx-vp9.webm" << 150 << 0.04 << 1.0 << 3.0;
    }

    void everyFrameOnceKeptWhenSkippingAndAfterASeek()
    {
        // Every frame once, in display order, from the origin. What the
        // decoder keeps when it may leave frames out is exactly what a full
        // decode calls reference frames: choosing one costs nothing.
        QFETCH(QString, movie);
        QFETCH(int, frames);
        QFETCH(double, interval);
        QFETCH(double, keptShare);
        QFETCH(double, seekTo);
        const std::vector<Seen> all = readAll(movie, FrameSkip::Nothing);
        const std::vector<double> whole = timesOf(all);
        QCOMPARE(static_cast<int>(whole.size()), frames);
        QVERIFY2(std::abs(whole.front()) < 0.05, qPrintable(QString::number(whole.front())));
        for (std::size_t i = 1; i < whole.size(); ++i)
            QVERIFY2(std::abs(whole[i] - whole[i - 1] - interval) < 0.002,
                     qPrintable(QString("%1 after %2").arg(whole[i]).arg(whole[i - 1])));
        const std::vector<Seen> kept = readAll(movie, FrameSkip::NonReference);
        QVERIFY(std::all_of(kept.begin(), kept.end(), [](const Seen &s) { return s.reference; }));
        QCOMPARE(timesOf(kept), timesOf(all, true));
        const double share = static_cast<double>(kept.size()) / static_cast<double>(all.size());
        QVERIFY2(std::abs(share - keptShare) < 0.1, qPrintable(QString::number(share)));

        // A read stopped every seventh frame goes on with the next one.
        auto reader = FrameReader::open(mediaPath(movie));
        QVERIFY(reader);
        std::vector<double> pieces;
        bool ended = false;
        for (int reads = 0; !ended && reads < 1000; ++reads) {
            int count = 0;
            ended = reader->read([](double) { return FrameSkip::Nothing; },
                                 [&](const DecodedFrame &frame) {
                                     pieces.push_back(frame.time());
                                     return ++count < 7;
                                 });
        }
        QVERIFY(ended);
        QCOMPARE(pieces, whole);

        // A seek brings the frame at the time and every one after it,
        // non-reference ones included: back from the end after a full read,
        // forward from the start, and back after a read that skipped frames.
        auto fromTheSeek = [&](auto &r) {
            r->seek(seekTo);
            std::vector<double> times;
            r->read([](double) { return FrameSkip::Nothing; },
                    [&](const DecodedFrame &frame) {
                        times.push_back(frame.time());
                        return true;
                    });
            QVERIFY(!times.empty());
            QVERIFY2(times.front() <= seekTo, qPrintable(QString::number(times.front())));
            const auto from = std::lower_bound(whole.begin(), whole.end(), seekTo - 1e-6);
            const auto mine = std::lower_bound(times.begin(), times.end(), seekTo - 1e-6);
            QCOMPARE(std::vector<double>(mine, times.end()),
                     std::vector<double>(from, whole.end()));
        };
        fromTheSeek(reader);
        reader = FrameReader::open(mediaPath(movie));
        fromTheSeek(reader);
        reader = FrameReader::open(mediaPath(movie));
        reader->read([](double) { return FrameSkip::NonReference; },
                     [](const DecodedFrame &) { return true; });
        fromTheSeek(reader);
    }

    void theIndexCountsEveryStreamsPackets()
    {
        // 6 s: 150 pictures and about 282 AAC frames, all listed by an MP4's
        // index; an MPEG-TS has none to read.
        auto mp4 = FrameReader::open(mediaPath("mx-h264.mp4"));
        QVERIFY(mp4);
        QVERIFY2(mp4->indexedPackets() >= 430 && mp4->indexedPackets() <= 440,
                 qPrintable(QString::number(mp4->indexedPackets())));
        auto ts = FrameReader::open(mediaPath("mx.ts"));
        QVERIFY(ts);
        QVERIFY2(ts->indexedPackets() < 20, qPrintable(QString::number(ts->indexedPackets())));
    }

    void onlyMoviesWithPicturesOpen()
    {
        for (const char *name : {"not_a_movie.mp4", "empty.mp4", "mx-audio.m4a"})
            QVERIFY2(!FrameReader::open(mediaPath(name)), name);
        QVERIFY(!FrameReader::open("/dev/zero"));
        QVERIFY(FrameReader::open(mediaPath("movie.mp4")));
    }

    // Keyframes every 2 s, at the times ffprobe finds, counted from each
    // file's origin (which is 1.46 s into an MPEG-TS, 9.98 s into the offset
    // MP4); how the ffmpeg program's seek lands in each.
    void readsEveryContainer_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("streams");
        QTest::addColumn<bool>("seeksByIndex");
        QTest::addColumn<bool>("lead");
        QTest::newRow("mp4") << "mx-h264.mp4" << 2 << true << false;
        QTest::newRow("mp4 from 10 s") << "mx-offset10.mp4" << 2 << true << false;
        QTest::newRow("hevc") << "mx-hevc.mp4" << 2 << true << false;
        // The chapter text track is not content.
        QTest::newRow("mp4 with chapters") << "mx-multi.mp4" << 4 << true << false;
        QTest::newRow("mkv") << "mx-multi.mkv" << 4 << true << true;
        QTest::newRow("webm") << "mx-vp9.webm" << 2 << true << false;
        QTest::newRow("ts") << "mx.ts" << 2 << false << true;
        QTest::newRow("ts from 11.4 s") << "mx-offset10.ts" << 2 << false << true;
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4" << 2 << true << false;
    }

    void readsEveryContainer()
    {
        QFETCH(QString, file);
        QFETCH(int, streams);
        QFETCH(bool, seeksByIndex);
        QFETCH(bool, lead);
        const Read read = readSource(file);
        QVERIFY(read.opened && read.layout && read.index);
        QCOMPARE(int(read.layout->streams.size()), streams);
        QCOMPARE(read.layout->seeksByIndex, seeksByIndex);
        QCOMPARE(read.layout->seekLead > 0, lead);
        const std::vector<double> expected = probedKeyframes(media(file));
        QCOMPARE(read.index->keyframes.size(), expected.size());
        QVERIFY(expected.size() == 3);
        for (size_t i = 0; i < expected.size(); ++i)
            QVERIFY2(std::abs(read.index->keyframes[i] - expected[i]) < 1e-4,
                     qPrintable(QStringLiteral("%1 against %2")
                                    .arg(read.index->keyframes[i])
                                    .arg(expected[i])));
        QVERIFY2(std::abs(read.index->keyframes[1] - read.index->keyframes[0] - 2.0) < 0.04,
                 "keyframes every 2 s");
        // Every packet has a decode time, in decode order, none after its
        // own presentation.
        const std::vector<VideoPacket> &packets = read.index->packets;
        QCOMPARE(packets.size(), read.index->framePts.size());
        for (size_t i = 0; i < packets.size(); ++i) {
            QVERIFY(std::isfinite(packets[i].dts) && packets[i].dts <= packets[i].pts + 1e-6);
            QVERIFY(i == 0 || packets[i].dts > packets[i - 1].dts);
        }
        QVERIFY(std::abs(read.index->frameDuration - (file.contains("ntsc") ? 1.001 / 30 : 0.04)) <
                1e-6);
    }

    void soundOnlyAndUnreadableFiles()
    {
        const Read sound = readSource(QStringLiteral("mx-audio.m4a"));
        QVERIFY(sound.opened && sound.layout && sound.index);
        QCOMPARE(sound.layout->streams.size(), size_t(1));
        QVERIFY(std::abs(sound.layout->frameDuration - 1024.0 / 48000) < 1e-9);
        QVERIFY(sound.index->keyframes.empty());

        const Read junk = readSource(QStringLiteral("not_a_movie.mp4"));
        QVERIFY(!junk.opened && !junk.layout && !junk.index);

        // A cancelled read delivers the layout it had but no index.
        const Read cancelled = readSource(QStringLiteral("mx-h264.mp4"), [] { return true; });
        QVERIFY(cancelled.opened && cancelled.layout && !cancelled.index);
    }

    void checksWrittenFiles_data()
    {
        const auto stream = [](StreamKind kind, const char *codec, int index) {
            return ExpectedStream{kind, codecIdNamed(codec), codec, index};
        };
        QTest::addColumn<QString>("file");
        QTest::addColumn<std::vector<ExpectedStream>>("expected");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("sound") << "mx-h264.mp4"
                               << std::vector{stream(StreamKind::Video, "h264", 0),
                                              stream(StreamKind::Audio, "aac", 1)}
                               << "";
        QTest::newRow("two audio of the same codec")
            << "mx-multi.mkv"
            << std::vector{stream(StreamKind::Audio, "aac", 1), stream(StreamKind::Audio, "aac", 2)}
            << "the output lacks the audio stream 2 (aac)";
        QTest::newRow("subtitles missing")
            << "mx-h264.mp4" << std::vector{stream(StreamKind::Subtitle, "subrip", 3)}
            << "the output lacks the subtitle stream 3 (subrip)";
        QTest::newRow("a video track without pictures")
            << "cut-novideo.mkv"
            << std::vector{stream(StreamKind::Video, "h264", 0),
                           stream(StreamKind::Audio, "aac", 1)}
            << "the output holds no video frame";
        QTest::newRow("not media")
            << "not_a_movie.mp4" << std::vector<ExpectedStream>{} << "the output cannot be read";
    }

    void checksWrittenFiles()
    {
        QFETCH(QString, file);
        QFETCH(std::vector<ExpectedStream>, expected);
        QFETCH(QString, verdict);
        const OutputReport report = checkCutOutput(mediaPath(file), expected);
        QCOMPARE(QString::fromStdString(report.failure), verdict);
        // The span the file holds, from its first sound or picture to its end.
        if (file == QLatin1String("mx-h264.mp4"))
            QVERIFY2(qAbs(report.length - 6.0) < 0.03, qPrintable(QString::number(report.length)));
    }

    void outOfRangeCodesClampAndOffBlackIsNotBlack()
    {
        const YuvMatrix bt709{0.2126, 0.0722};
        const YuvMatrix bt601{0.299, 0.114};
        for (const YuvMatrix &m : {bt709, bt601}) {
            // Exact black and white in both ranges: the real-media rows below.
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

QTEST_MAIN(ReadersTest)
#include "test_readers.moc"
