#include "export/CutPlan.h"
#include "export/FFmpegRunner.h"
#include "export/ShellCommand.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace trimora;

namespace {

constexpr double frame = 0.04;

// 25 fps H.264 as x264 writes it with two B-frames: per GOP the keyframe, then
// each P-frame followed by the two B-frames shown before it; decode times
// run two frames behind.
VideoIndex ibbp(int frames, int gop)
{
    VideoIndex index;
    index.frameDuration = frame;
    std::vector<int> order;
    for (int g = 0; g < frames; g += gop) {
        const int end = std::min(frames, g + gop);
        order.push_back(g);
        for (int p = g + 3; p < end + 2; p += 3) {
            const int shownP = std::min(p, end - 1);
            order.push_back(shownP);
            for (int b = p - 2; b < shownP; ++b)
                order.push_back(b);
        }
    }
    for (size_t i = 0; i < order.size(); ++i) {
        const bool key = order[i] % gop == 0;
        index.packets.push_back({order[i] * frame, (double(i) - 2) * frame, key});
        index.framePts.push_back(order[i] * frame);
        if (key)
            index.keyframes.push_back(order[i] * frame);
    }
    std::sort(index.framePts.begin(), index.framePts.end());
    return index;
}

SourceLayout layoutOf(std::vector<SourceStream> streams, bool seeksByIndex = true,
                      double seekLead = 0.0)
{
    SourceLayout layout;
    layout.streams = std::move(streams);
    layout.frameDuration = frame;
    layout.seeksByIndex = seeksByIndex;
    layout.seekLead = seekLead;
    return layout;
}

SourceStream stream(int index, StreamKind kind, const char *codec, bool picture = false)
{
    return {index, kind, codecIdNamed(codec), codec, picture};
}

const SourceStream h264 = stream(0, StreamKind::Video, "h264");
const SourceStream aac = stream(1, StreamKind::Audio, "aac");
const double dtsHeuristic = 3.0 / 23.0;

CutPlan plan(const QString &output, double in, double out, const SourceLayout *layout,
             const VideoIndex *index)
{
    return planCut({QStringLiteral("/m/in.src"), QStringLiteral("/m/") + output, in, out}, layout,
                   index);
}

QString argumentsFrom(const QStringList &arguments, const QString &first, int count)
{
    const qsizetype at = arguments.indexOf(first);
    return at < 0 ? QString() : arguments.mid(at, count).join(QLatin1Char(' '));
}

} // namespace

// The cut's argument list decided from what was read of the source, the
// number formatting and the shell text of the command.
class ArgumentsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondsFormatting()
    {
        QCOMPARE(formatSeconds(12.3456), QStringLiteral("12.346"));
        QCOMPARE(formatSeconds(-1.5), QStringLiteral("-1.500"));
        QCOMPARE(clockTime(4.0 - 1e-12), QStringLiteral("00:00:04.000"));
        QCOMPARE(clockTime(3723.0213), QStringLiteral("01:02:03.021"));
    }

    // The input is seeked (-ss before -i: after it, the tool would decode-skip
    // to the next keyframe and lose the start); the output never replaces a
    // file; every stream is mapped and copied with its metadata and chapters.
    void argumentLayout()
    {
        const SourceLayout layout = layoutOf({h264, aac});
        QCOMPARE(plan(QStringLiteral("o.mp4"), 1.5, 4.25, &layout, nullptr).arguments,
                 QStringList({"-n", "-ss", "1.500", "-i", "/m/in.src", "-t", "2.750", "-map", "0:0",
                              "-map", "0:1", "-c", "copy", "-map_metadata", "0", "-map_chapters",
                              "0", "/m/o.mp4"}));
        // Nothing known of the source: every stream.
        QCOMPARE(argumentsFrom(plan(QStringLiteral("o.mp4"), 0, 2, nullptr, nullptr).arguments,
                               QStringLiteral("-map"), 3),
                 QStringLiteral("-map 0 -c"));
    }

    void emptyRangeIsRefused_data()
    {
        QTest::addColumn<double>("in");
        QTest::addColumn<double>("out");
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("refused");
        QTest::newRow("equal marks") << 2.0 << 2.0 << true << true;
        QTest::newRow("shorter than a frame") << 2.0 << 2.039 << true << true;
        QTest::newRow("one frame") << 2.0 << 2.04 << true << false;
        QTest::newRow("equal, nothing known") << 2.0 << 2.0 << false << true;
        QTest::newRow("NaN") << 2.0 << qQNaN() << true << true;
    }

    void emptyRangeIsRefused()
    {
        QFETCH(double, in);
        QFETCH(double, out);
        QFETCH(bool, known);
        QFETCH(bool, refused);
        const SourceLayout layout = layoutOf({h264});
        const CutPlan cut =
            plan(QStringLiteral("o.mkv"), in, out, known ? &layout : nullptr, nullptr);
        QCOMPARE(cut.refusal,
                 refused ? QStringLiteral("❌ Failed: the marked range is empty") : QString());
    }

    void streamsTheContainerCannotHold_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("maps");
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("mkv keeps all") << "o.mkv"
                                       << "0:0 0:1 0:2 0:3 0:4 0:5" << QStringList();
        QTest::newRow("mp4") << "o.MP4"
                             << "0:0 0:1 0:2 0:5"
                             << QStringList({"Left out: subtitle stream 3 (subrip): MP4 cannot "
                                             "hold it",
                                             "Left out: attachment stream 4 (ttf): MP4 cannot "
                                             "hold it"});
        QTest::newRow("webm") << "o.webm"
                              << "0:2"
                              << QStringList(
                                     {"Left out: video stream 0 (h264): WebM cannot hold it",
                                      "Left out: audio stream 1 (aac): WebM cannot hold it",
                                      "Left out: subtitle stream 3 (subrip): WebM cannot "
                                      "hold it",
                                      "Left out: attachment stream 4 (ttf): WebM cannot "
                                      "hold it",
                                      "Left out: picture stream 5 (mjpeg): WebM cannot "
                                      "hold it"});
        // The transport stream muxer would write them as unreadable private data.
        QTest::newRow("ts") << "o.ts"
                            << "0:0 0:1 0:2"
                            << QStringList({"Left out: subtitle stream 3 (subrip): MPEG-TS cannot "
                                            "hold it",
                                            "Left out: attachment stream 4 (ttf): MPEG-TS cannot "
                                            "hold it",
                                            "Left out: picture stream 5 (mjpeg): MPEG-TS cannot "
                                            "hold it"});
    }

    void streamsTheContainerCannotHold()
    {
        QFETCH(QString, output);
        QFETCH(QString, maps);
        QFETCH(QStringList, notes);
        const SourceLayout layout = layoutOf({h264, aac, stream(2, StreamKind::Audio, "opus"),
                                              stream(3, StreamKind::Subtitle, "subrip"),
                                              stream(4, StreamKind::Attachment, "ttf"),
                                              stream(5, StreamKind::Video, "mjpeg", true)});
        const CutPlan cut = plan(output, 1, 2, &layout, nullptr);
        QStringList mapped;
        for (qsizetype i = 0; i + 1 < cut.arguments.size(); ++i) {
            if (cut.arguments[i] == QLatin1String("-map"))
                mapped << cut.arguments[i + 1];
        }
        QCOMPARE(mapped.join(QLatin1Char(' ')), maps);
        QCOMPARE(cut.notes, notes);
        QVERIFY(cut.refusal.isEmpty());
    }

    void nothingTheContainerCanHoldIsRefused()
    {
        const SourceLayout layout = layoutOf({stream(0, StreamKind::Subtitle, "subrip")});
        QCOMPARE(plan(QStringLiteral("o.mp4"), 0, 2, &layout, nullptr).refusal,
                 QStringLiteral("❌ Failed: MP4 cannot hold any stream of this movie"));
    }

    // Keyframes every 2 s. The seek is aimed so that the tool lands on the
    // keyframe at or before the frame shown at In: by presentation time for
    // index demuxers (minus the tool's own lead), by decode time for MPEG-TS.
    void start_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("seeksByIndex");
        QTest::addColumn<double>("lead");
        QTest::addColumn<double>("in");
        QTest::addColumn<QString>("seek");
        QTest::addColumn<QString>("note");
        QTest::newRow("mp4 at the frame")
            << "o.mp4" << true << 0.0 << 2.6 << "-ss 2.600 -i" << QString();
        QTest::newRow("mp4 inside a frame: its start")
            << "o.mp4" << true << 0.0 << 2.63 << "-ss 2.600 -i" << QString();
        QTest::newRow("mkv between keyframes")
            << "o.mkv" << true << dtsHeuristic << 2.6 << "-ss 2.131 -i"
            << "Starts at the keyframe at 00:00:02.000, 0.600 s before In: MKV cannot start "
               "between keyframes without re-encoding";
        QTest::newRow("mkv inside the keyframe's frame")
            << "o.mkv" << true << dtsHeuristic << 2.03 << "-ss 2.131 -i" << QString();
        QTest::newRow("mkv from a source without reordering")
            << "o.mkv" << true << 0.0 << 5.0 << "-ss 4.000 -i"
            << "Starts at the keyframe at 00:00:04.000, 1.000 s before In: MKV cannot start "
               "between keyframes without re-encoding";
        // Keyframe decoded at 1.92; two frames earlier, plus the lead.
        QTest::newRow("ts from ts")
            << "o.ts" << false << dtsHeuristic << 2.6 << "-ss 1.971 -i"
            << "Starts at the keyframe at 00:00:02.000, 0.600 s before In: MPEG-TS cannot start "
               "between keyframes without re-encoding";
        QTest::newRow("mp4 from ts: lands on the keyframe, shifted to In")
            << "o.mp4" << false << dtsHeuristic << 2.6 << "-ss 1.971 -itsoffset -0.629 -i"
            << QString();
        QTest::newRow("ts at the first keyframe")
            << "o.ts" << false << dtsHeuristic << 0.5 << "-ss 0.000 -i"
            << "Starts at the keyframe at 00:00:00.000, "
               "0.500 s before In: MPEG-TS cannot start "
               "between keyframes without re-encoding";
    }

    void start()
    {
        QFETCH(QString, output);
        QFETCH(bool, seeksByIndex);
        QFETCH(double, lead);
        QFETCH(double, in);
        QFETCH(QString, seek);
        QFETCH(QString, note);
        const SourceLayout layout = layoutOf({h264, aac}, seeksByIndex, lead);
        const VideoIndex index = ibbp(150, 50);
        const CutPlan cut = plan(output, in, 5.5, &layout, &index);
        const qsizetype ss = cut.arguments.indexOf(QStringLiteral("-ss"));
        QCOMPARE(cut.arguments.mid(ss, cut.arguments.indexOf(QStringLiteral("-i")) - ss + 1)
                     .join(QLatin1Char(' ')),
                 seek);
        QCOMPARE(cut.notes.filter(QStringLiteral("Starts at")),
                 note.isEmpty() ? QStringList() : QStringList{note});
    }

    // P-frames every third frame, each followed in decode order by the two
    // B-frames shown before it. A frame just before Out may need the P-frame
    // after it; then the copy shows that one too, and the log says so.
    void end_data()
    {
        QTest::addColumn<double>("out");
        QTest::addColumn<QString>("limit"); // -t, from In 0.4 (an MP4 starts there)
        QTest::addColumn<QString>("note");
        // Frame 24 (0.96) is a P-frame, decoded before 22 and 23: all before Out.
        QTest::newRow("after a P-frame") << 1.0 << "0.518" << QString();
        QTest::newRow("inside a group")
            << 0.95 << "0.518"
            << "Ends at 00:00:01.000, 0.050 s after Out: the frames before Out are decoded from "
               "a later frame, which stream copy keeps";
        // Frame 22 needs P24, which is shown after 23: 23 is kept as well
        // rather than leaving a hole.
        QTest::newRow("no frame is skipped")
            << 0.9 << "0.500"
            << "Ends at 00:00:01.000, 0.100 s after Out: the frames before Out are decoded from "
               "a later frame, which stream copy keeps";
        QTest::newRow("past the last frame") << 7.0 << "6.600" << QString();
    }

    void end()
    {
        QFETCH(double, out);
        QFETCH(QString, limit);
        QFETCH(QString, note);
        const SourceLayout layout = layoutOf({h264, aac});
        const VideoIndex index = ibbp(150, 50);
        const CutPlan cut = plan(QStringLiteral("o.mp4"), 0.4, out, &layout, &index);
        QCOMPARE(argumentsFrom(cut.arguments, QStringLiteral("-t"), 2),
                 QStringLiteral("-t ") + limit);
        QCOMPARE(cut.notes.filter(QStringLiteral("Ends at")),
                 note.isEmpty() ? QStringList() : QStringList{note});
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain path") << "/Movies/clip.mov"
                                    << "/Movies/clip.mov";
        QTest::newRow("all safe punctuation") << "a._-/+=:@%,b"
                                              << "a._-/+=:@%,b";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("space") << "/My Movies/clip.mov"
                               << "'/My Movies/clip.mov'";
        QTest::newRow("apostrophe") << "it's.mov"
                                    << "'it'\\''s.mov'";
        QTest::newRow("command substitution") << "$(rm -rf ~)"
                                              << "'$(rm -rf ~)'";
        QTest::newRow("newline") << "a\nb"
                                 << "'a\nb'";
        QTest::newRow("accented") << "/Vidéos/été.mov"
                                  << "/Vidéos/été.mov";
        QTest::newRow("astral letter") << "\U0001D400.mp4"
                                       << "\U0001D400.mp4";
        QTest::newRow("emoji") << "\U0001F600.mp4"
                               << "'\U0001F600.mp4'";
        QTest::newRow("no-break space") << "a\u00A0b"
                                        << "'a\u00A0b'";
    }

    void quoting()
    {
        QFETCH(QString, word);
        QFETCH(QString, quoted);
        QCOMPARE(shellQuoted(word), quoted);
    }

    void commandText()
    {
        QTemporaryDir dir;
        const QString tool = writeStandIn(dir.path(), QStringLiteral("ffmpeg"), "exit 0");
        const QStringList arguments{"-n", "-i", "/My Movies/it's.mov", "/out/日本.mov"};
        QCOMPARE(shellCommand(arguments, {dir.path() + "/none"}),
                 QStringLiteral("ffmpeg -n -i '/My Movies/it'\\''s.mov' /out/日本.mov"));
        QVERIFY(shellCommand(arguments, {dir.path() + "/none", tool})
                    .startsWith(tool + QStringLiteral(" -n ")));
    }

    // The preview is the command the next export runs: with the name it
    // would write now, never one that exists.
    void commandPreview()
    {
        QTemporaryDir dir;
        VideoEditorViewModel model;
        model.ffmpegLocationsForTesting = QStringList{dir.path() + QStringLiteral("/none")};
        QSignalSpy changed(&model, &VideoEditorViewModel::commandPreviewChanged);
        const QString output = dir.path() + QStringLiteral("/out.mp4");
        model.setOutputPath(output);
        QCOMPARE(model.commandPreview(), QString()); // no source
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/in.mp4")));
        model.setInPointValue(1.5);
        model.setOutPointValue(4.25);
        QCOMPARE(model.commandPreview(),
                 QStringLiteral("ffmpeg -n -ss 1.500 -i /in.mp4 -t 2.750 -map 0 -c copy "
                                "-map_metadata 0 -map_chapters 0 ") +
                     output);
        QCOMPARE(changed.count(), 4);
        QFile(output).open(QIODevice::WriteOnly);
        QVERIFY(model.commandPreview().endsWith(QStringLiteral(" ") + dir.path() +
                                                QStringLiteral("/out_1.mp4")));
        model.setOutputPath(QString());
        QCOMPARE(model.commandPreview(), QString());
    }
};

QTEST_MAIN(ArgumentsTest)
#include "test_arguments.moc"
