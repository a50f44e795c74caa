#include "media/FrameReader.h"
#include "support/FrameRule.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cmath>

using namespace trimora;

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

} // namespace

class FrameReaderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyFrameComesOnceInDisplayOrderFromTheOrigin_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("interval");
        QTest::newRow("mp4") << "mx-h264.mp4" << 150 << 0.04;
        QTest::newRow("mov") << "mx.mov" << 150 << 0.04;
        QTest::newRow("mpeg-ts") << "mx.ts" << 150 << 0.04;
        QTest::newRow("mp4 starting at 10 s") << "mx-offset10.mp4" << 150 << 0.04;
        QTest::newRow("mpeg-ts starting at 10 s") << "mx-offset10.ts" << 150 << 0.04;
        QTest::newRow("webm vp9, opus first") << "mx-vp9.webm" << 150 << 0.04;
        QTest::newRow("hevc") << "mx-hevc.mp4" << 150 << 0.04;
        QTest::newRow("mkv, two sound tracks") << "mx-multi.mkv" << 150 << 0.04;
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4" << 180 << 1001.0 / 30000;
        QTest::newRow("mpeg-2 program stream") << "frames-mpeg2.mpg" << 100 << 0.04;
    }

    void everyFrameComesOnceInDisplayOrderFromTheOrigin()
    {
        QFETCH(QString, movie);
        QFETCH(int, frames);
        QFETCH(double, interval);
        const std::vector<double> times = timesOf(readAll(movie, FrameSkip::Nothing));
        QCOMPARE(static_cast<int>(times.size()), frames);
        QVERIFY2(std::abs(times.front()) < 0.05, qPrintable(QString::number(times.front())));
        for (std::size_t i = 1; i < times.size(); ++i)
            QVERIFY2(std::abs(times[i] - times[i - 1] - interval) < 0.002,
                     qPrintable(QString("%1 after %2").arg(times[i]).arg(times[i - 1])));
    }

    void referenceFramesAreThoseKeptWhenSkipping_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("keptShare"); // of all frames, roughly
        QTest::newRow("h264 mp4, lengths") << "mx-h264.mp4" << 0.67;
        QTest::newRow("h264 mpeg-ts, start codes") << "mx.ts" << 0.67;
        QTest::newRow("h264 every fourth") << "scan-sparse.mp4" << 0.25;
        QTest::newRow("h264 every fourth, mpeg-ts") << "scan-sparse-offset.ts" << 0.25;
        QTest::newRow("h264 pyramid") << "scan-pyramid.mkv" << 0.5;
        QTest::newRow("h264 without b-frames") << "frames-nob.mp4" << 1.0;
        QTest::newRow("hevc mp4, sample flags") << "mx-hevc.mp4" << 0.5;
        QTest::newRow("hevc mkv, lengths") << "frames-hevc.mkv" << 0.5;
        QTest::newRow("hevc mpeg-ts, start codes") << "frames-hevc.ts" << 0.5;
        QTest::newRow("mpeg-2") << "frames-mpeg2.mpg" << 0.33;
        QTest::newRow("vp9: nothing to leave out") << "mx-vp9.webm" << 1.0;
    }

    void referenceFramesAreThoseKeptWhenSkipping()
    {
        // What the decoder keeps when it may leave frames out is exactly what
        // a full decode calls reference frames: choosing one costs nothing.
        QFETCH(QString, movie);
        QFETCH(double, keptShare);
        const std::vector<Seen> all = readAll(movie, FrameSkip::Nothing);
        const std::vector<Seen> kept = readAll(movie, FrameSkip::NonReference);
        QVERIFY(!all.empty());
        QVERIFY(std::all_of(kept.begin(), kept.end(), [](const Seen &s) { return s.reference; }));
        QCOMPARE(timesOf(kept), timesOf(all, true));
        const double share = static_cast<double>(kept.size()) / static_cast<double>(all.size());
        QVERIFY2(std::abs(share - keptShare) < 0.1, qPrintable(QString::number(share)));
    }

    void aStoppedReadGoesOnWithTheNextFrame()
    {
        const std::vector<double> whole = timesOf(readAll("movie.mp4", FrameSkip::Nothing));
        auto reader = FrameReader::open(mediaPath("movie.mp4"));
        QVERIFY(reader);
        std::vector<double> pieces;
        bool ended = false;
        int reads = 0;
        while (!ended && reads++ < 1000) {
            int count = 0;
            ended = reader->read([](double) { return FrameSkip::Nothing; },
                                 [&](const DecodedFrame &frame) {
                                     pieces.push_back(frame.time());
                                     return ++count < 7;
                                 });
        }
        QVERIFY(ended);
        QCOMPARE(pieces, whole);
    }

    void seekingBringsTheFramesFromThatTimeOn_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::addColumn<double>("time");
        QTest::newRow("mp4, between keyframes") << "mx-h264.mp4" << 3.0;
        QTest::newRow("mp4, on a keyframe") << "mx-h264.mp4" << 4.0;
        QTest::newRow("mpeg-ts") << "mx.ts" << 3.0;
        QTest::newRow("mpeg-ts starting at 10 s") << "mx-offset10.ts" << 3.0;
        QTest::newRow("mp4 starting at 10 s") << "mx-offset10.mp4" << 5.0;
        QTest::newRow("webm") << "mx-vp9.webm" << 3.0;
        QTest::newRow("hevc") << "mx-hevc.mp4" << 3.0;
        QTest::newRow("mkv, near the end") << "mx-multi.mkv" << 5.9;
        QTest::newRow("every fourth a reference") << "scan-sparse.mp4" << 12.3;
    }

    void seekingBringsTheFramesFromThatTimeOn()
    {
        // Back from the end and forward from the start: the frame at the time
        // and every one after it come out, non-reference ones included.
        QFETCH(QString, movie);
        QFETCH(double, time);
        const std::vector<double> whole = timesOf(readAll(movie, FrameSkip::Nothing));
        auto reader = FrameReader::open(mediaPath(movie));
        QVERIFY(reader);
        for (bool fromTheEnd : {true, false}) {
            if (fromTheEnd)
                reader->read([](double) { return FrameSkip::NonReference; },
                             [](const DecodedFrame &) { return true; });
            reader->seek(time);
            std::vector<double> times;
            reader->read([](double) { return FrameSkip::Nothing; },
                         [&](const DecodedFrame &frame) {
                             times.push_back(frame.time());
                             return true;
                         });
            QVERIFY(!times.empty());
            QVERIFY2(times.front() <= time, qPrintable(QString::number(times.front())));
            const auto from = std::lower_bound(whole.begin(), whole.end(), time - 1e-6);
            const auto mine = std::lower_bound(times.begin(), times.end(), time - 1e-6);
            QCOMPARE(std::vector<double>(mine, times.end()),
                     std::vector<double>(from, whole.end()));
        }
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
};

QTEST_MAIN(FrameReaderTest)
#include "test_framereader.moc"
