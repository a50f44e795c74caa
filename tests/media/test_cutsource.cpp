#include "media/CutSource.h"
#include "media/OutputCheck.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <cmath>

using namespace trimora;

namespace {

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

} // namespace

Q_DECLARE_METATYPE(std::vector<ExpectedStream>)

// What is read of a movie on load for cutting it, and the check of a file the
// tool wrote, on real media.
class CutSourceTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QCOMPARE(QString::fromStdString(checkCutOutput(mediaPath(file), expected)), verdict);
    }
};

QTEST_MAIN(CutSourceTest)
#include "test_cutsource.moc"
