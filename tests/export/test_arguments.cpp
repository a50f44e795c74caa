#include "export/AtomicOutput.h"
#include "export/CutPlan.h"
#include "export/FFmpegRunner.h"
#include "export/OutputNaming.h"
#include "export/ShellCommand.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
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
// number formatting, the shell text of the command, and the default and free
// output names, checked against a real folder (one per test and row).
class ArgumentsTest : public QObject
{
    Q_OBJECT

private:
    QString m_root;
    QTemporaryDir m_temp;

    QString path(const QString &name) const { return m_root + QLatin1Char('/') + name; }
    void touch(const QString &name) const { QFile(path(name)).open(QIODevice::WriteOnly); }

private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void init()
    {
        m_root = m_temp.path() + QStringLiteral("/%1-%2")
                                     .arg(QTest::currentTestFunction())
                                     .arg(QString::fromUtf8(QTest::currentDataTag()));
        QDir().mkpath(m_root);
    }

    // The requested name is taken unless it is the expected one; so are the
    // others listed (a trailing slash makes a folder, which counts as taken).
    void uniqueName_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *requested, const char *expected, QStringList taken = {}) {
            if (qstrcmp(requested, expected) != 0)
                taken << requested;
            QTest::newRow((QByteArray(requested) + " to " + expected).constData())
                << QString(requested) << taken << QString(expected);
        };
        row("x_cut_5.mp4", "x_cut_5.mp4");
        row("x_cut_5.mp4", "x_cut_8.mp4", {"x_cut_6.mp4", "x_cut_7.mp4/"});
        row("clip_cut_1.mp4", "clip_cut_2.mp4");
        row("clip.mp4", "clip_1.mp4");
        row("take_007.mov", "take_8.mov");                                 // leading zeros
        row("movie_.mp4", "movie__1.mp4");                                 // empty suffix
        row("x_-3.mp4", "x_-2.mp4");                                       // negative
        row("x_-.mp4", "x_-_1.mp4");                                       // bare sign
        row("x_99999999999999999999.mp4", "x_99999999999999999999_1.mp4"); // beyond 64 bits
        row("x_9223372036854775807.mp4", "x_9223372036854775807_1.mp4");
        row("x_-9223372036854775808.mp4", "x_-9223372036854775807.mp4");
        // The counter never wraps past the largest value.
        row("x_9223372036854775806.mp4", "x_9223372036854775807_1.mp4",
            {"x_9223372036854775807.mp4"});
        row("noext", "noext_1.");
        row("B_1.MOV", "B_2.MOV"); // case kept
    }

    void uniqueName()
    {
        QFETCH(QString, requested);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        for (const QString &name : taken) {
            if (name.endsWith(QLatin1Char('/')))
                QDir(m_root).mkdir(name);
            else
                touch(name);
        }
        QCOMPARE(uniqueOutputPath(path(requested)), path(expected));
    }

    // A written file gets its name only once it is good, and never replaces a
    // file: a name taken meanwhile gives way to the next free one. A temporary
    // left by a dead writer goes with the next reservation; a live one stays.
    void atomicOutput()
    {
        const auto write = [](const QString &file, const QByteArray &bytes) {
            QFile out(file);
            return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
        };
        const auto read = [&](const QString &name) {
            QFile in(path(name));
            return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("missing");
        };
        touch(".trimora-part-dead.mp4");
        AtomicOutput first(path("a.mp4"));
        QVERIFY(!QFile::exists(path(".trimora-part-dead.mp4")));
        AtomicOutput second(path("a.mp4"));
        QVERIFY(QFile::exists(first.temporaryPath()) && QFile::exists(second.temporaryPath()));
        QVERIFY(first.temporaryPath().endsWith(QLatin1String(".mp4")));
        QVERIFY(write(first.temporaryPath(), "one") && write(second.temporaryPath(), "two"));
        QVERIFY(write(path("a.mp4"), "the user's"));
        QCOMPARE(second.publish(), path("a_1.mp4"));
        QCOMPARE(first.publish(), path("a_2.mp4"));
        {
            AtomicOutput dropped(path("a.mp4"));
            QVERIFY(write(dropped.temporaryPath(), "three"));
        }
        QCOMPARE(read("a.mp4") + read("a_1.mp4") + read("a_2.mp4"), QByteArray("the user'stwoone"));
        QCOMPARE(QDir(m_root).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"a.mp4", "a_1.mp4", "a_2.mp4"}));
        QCOMPARE(AtomicOutput(path("gone/a.mp4")).error(),
                 QStringLiteral("the folder %1 does not exist").arg(path("gone")));
    }

    // The movie's name with _cut_<n> and its extension (MP4 when it has none);
    // each chosen name is then taken, and the next default skips it.
    void defaultName()
    {
        VideoEditorViewModel model;
        const char *cases[][2] = {{"b.mp4", "b_cut_1.mp4"},
                                  {"b.mp4", "b_cut_2.mp4"},
                                  {"B.MOV", "B_cut_1.MOV"},
                                  {"clip", "clip_cut_1.mp4"},
                                  {"a.b.mkv", "a.b_cut_1.mkv"}};
        for (const auto &[source, expected] : cases) {
            model.updateDefaultOutputPath(QUrl::fromLocalFile(path(source)));
            QCOMPARE(model.outputPath(), path(expected));
            touch(expected);
        }
    }

    // A new movie gets its own default name unless the user chose the path:
    // the next cut must not go into the previous movie's name and container.
    void newMovieReplacesOnlyTheDefaultPath()
    {
        QFile::copy(media(QStringLiteral("clip1s.mp4")), path("clip.mp4"));
        QFile::copy(media(QStringLiteral("mx-multi.mkv")), path("multi.mkv"));
        VideoEditorViewModel model;
        // Loaded once the keyframes are read, which starts when loading ends.
        const auto load = [&](const QString &file) {
            model.loadVideo(QUrl::fromLocalFile(file));
            return waitFor(
                [&] {
                    return model.sourceURL() == QUrl::fromLocalFile(file) &&
                           model.isCutSourceReady();
                },
                20000);
        };
        QVERIFY(load(path("clip.mp4")));
        QCOMPARE(model.outputPath(), path("clip_cut_1.mp4"));
        touch("clip_cut_1.mp4"); // exported
        QVERIFY(load(path("multi.mkv")));
        QCOMPARE(model.outputPath(), path("multi_cut_1.mkv"));
        model.setOutputPath(path("typed.mov"));
        QVERIFY(load(path("clip.mp4")));
        QCOMPARE(model.outputPath(), path("typed.mov"));
    }

    void relativePathResolvesAgainstWorkingDirectory()
    {
        const QString saved = QDir::currentPath();
        QDir::setCurrent(m_root);
        touch("rel.mp4");
        const QString free =
            uniqueOutputPath(absoluteLocalPath(fileURLFromPath(QStringLiteral("rel.mp4"))));
        QDir::setCurrent(saved);
        QCOMPARE(free, path("rel_1.mp4"));
        QCOMPARE(fileURLFromPath(QStringLiteral("-y")).toLocalFile(),
                 QDir::current().absoluteFilePath(QStringLiteral("-y")));
    }
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
                 QStringList({"-hide_banner", "-n", "-ss", "1.500", "-i", "/m/in.src", "-t",
                              "2.750", "-map", "0:0", "-map", "0:1", "-c", "copy", "-map_metadata",
                              "0", "-map_chapters", "0", "/m/o.mp4"}));
        // Nothing known of the source: every stream.
        QCOMPARE(argumentsFrom(plan(QStringLiteral("o.mp4"), 0, 2, nullptr, nullptr).arguments,
                               QStringLiteral("-map"), 3),
                 QStringLiteral("-map 0 -c"));
    }

    void emptyRangeIsRefused()
    {
        const SourceLayout layout = layoutOf({h264});
        const struct
        {
            double out;
            bool known, refused;
        } rows[] = {{2.0, true, true},   // equal marks
                    {2.039, true, true}, // shorter than a frame
                    {2.04, true, false}, // one frame
                    {2.0, false, true},  // equal, nothing known of the source
                    {qQNaN(), true, true}};
        for (const auto &row : rows) {
            const CutPlan cut =
                plan(QStringLiteral("o.mkv"), 2.0, row.out, row.known ? &layout : nullptr, nullptr);
            QCOMPARE(cut.refusal,
                     row.refused ? QStringLiteral("the marked range is empty") : QString());
        }
    }

    // Each stream left out is named in the log; the rest are mapped in order.
    void streamsTheContainerCannotHold_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QList<int>>("leftOut");
        const auto row = [](const char *output, const char *container, QList<int> leftOut) {
            QTest::newRow(output) << QString(output) << QString(container) << leftOut;
        };
        row("o.mkv", "MKV", {});
        row("o.MP4", "MP4", {3, 4});
        row("o.webm", "WebM", {0, 1, 3, 4, 5});
        // The transport stream muxer would write them as unreadable private data.
        row("o.ts", "MPEG-TS", {3, 4, 5});
    }

    void streamsTheContainerCannotHold()
    {
        QFETCH(QString, output);
        QFETCH(QString, container);
        QFETCH(QList<int>, leftOut);
        const SourceLayout layout = layoutOf({h264, aac, stream(2, StreamKind::Audio, "opus"),
                                              stream(3, StreamKind::Subtitle, "subrip"),
                                              stream(4, StreamKind::Attachment, "ttf"),
                                              stream(5, StreamKind::Video, "mjpeg", true)});
        const char *kinds[] = {"video", "audio", "audio", "subtitle", "attachment", "picture"};
        QStringList maps, notes;
        for (const SourceStream &s : layout.streams) {
            if (!leftOut.contains(s.index))
                maps << QStringLiteral("-map 0:%1").arg(s.index);
            else
                notes << QStringLiteral("Left out: %1 stream %2 (%3): %4 cannot hold it")
                             .arg(kinds[s.index])
                             .arg(s.index)
                             .arg(QString::fromStdString(s.codecName), container);
        }
        const CutPlan cut = plan(output, 1, 2, &layout, nullptr);
        QCOMPARE(argumentsFrom(cut.arguments, QStringLiteral("-map"), 2 * maps.size()),
                 maps.join(QLatin1Char(' ')));
        QCOMPARE(cut.arguments.count(QStringLiteral("-map")), maps.size());
        QCOMPARE(cut.notes, notes);
        QVERIFY(cut.refusal.isEmpty());
    }

    void nothingTheContainerCanHoldIsRefused()
    {
        const SourceLayout layout = layoutOf({stream(0, StreamKind::Subtitle, "subrip")});
        QCOMPARE(plan(QStringLiteral("o.mp4"), 0, 2, &layout, nullptr).refusal,
                 QStringLiteral("MP4 cannot hold any stream of this movie"));
    }

    // Keyframes every 2 s. The seek is aimed so that the tool lands on the
    // keyframe at or before the frame shown at In: by presentation time for
    // index demuxers (minus the tool's own lead), by decode time for MPEG-TS.
    // A container that cannot start there names the keyframe it starts at,
    // and its clock starts at that keyframe's decode time (here two frames
    // before it).
    void start_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("seeksByIndex");
        QTest::addColumn<double>("lead");
        QTest::addColumn<double>("in");
        QTest::addColumn<QString>("seek");
        QTest::addColumn<double>("keyframe"); // named in the log; NaN: none
        const auto row = [](const char *tag, const char *output, bool byIndex, double lead,
                            double in, const char *seek, double keyframe) {
            QTest::newRow(tag) << QString(output) << byIndex << lead << in << QString(seek)
                               << keyframe;
        };
        const double none = qQNaN();
        row("mp4 at the frame", "o.mp4", true, 0.0, 2.6, "-ss 2.600 -i", none);
        row("mp4 inside a frame: its start", "o.mp4", true, 0.0, 2.63, "-ss 2.600 -i", none);
        row("mkv between keyframes", "o.mkv", true, dtsHeuristic, 2.6,
            "-ss 2.131 -itsoffset 0.211 -i", 2.0);
        row("mkv inside the keyframe's frame", "o.mkv", true, dtsHeuristic, 2.03,
            "-ss 2.131 -itsoffset 0.211 -i", none);
        row("mkv without reordering", "o.mkv", true, 0.0, 5.0, "-ss 4.000 -itsoffset 0.080 -i",
            4.0);
        // Keyframe decoded at 1.92; two frames earlier, plus the lead.
        row("ts from ts", "o.ts", false, dtsHeuristic, 2.6, "-ss 1.971 -itsoffset 0.051 -i", 2.0);
        row("mp4 from ts: lands on the keyframe, shifted to In", "o.mp4", false, dtsHeuristic, 2.6,
            "-ss 1.971 -itsoffset -0.629 -i", none);
        row("ts at the first keyframe", "o.ts", false, dtsHeuristic, 0.5,
            "-ss 0.000 -itsoffset 0.080 -i", 0.0);
    }

    void start()
    {
        QFETCH(QString, output);
        QFETCH(bool, seeksByIndex);
        QFETCH(double, lead);
        QFETCH(double, in);
        QFETCH(QString, seek);
        QFETCH(double, keyframe);
        const SourceLayout layout = layoutOf({h264, aac}, seeksByIndex, lead);
        const VideoIndex index = ibbp(150, 50);
        const CutPlan cut = plan(output, in, 5.5, &layout, &index);
        const qsizetype ss = cut.arguments.indexOf(QStringLiteral("-ss"));
        QCOMPARE(argumentsFrom(cut.arguments, QStringLiteral("-ss"),
                               cut.arguments.indexOf(QStringLiteral("-i")) - ss + 1),
                 seek);
        QStringList note;
        if (!qIsNaN(keyframe))
            note << QStringLiteral("Starts at the keyframe at %1, %2 s before In: %3 cannot start "
                                   "between keyframes without re-encoding")
                        .arg(clockTime(keyframe), formatSeconds(in - keyframe),
                             output.endsWith(QLatin1String(".ts")) ? "MPEG-TS" : "MKV");
        QCOMPARE(cut.notes.filter(QStringLiteral("Starts at")), note);
        // The status line says the same, without the reason.
        QCOMPARE(cut.facts.filter(QStringLiteral("Starts at")),
                 note.replaceInStrings(QRegularExpression(": .*"), QString()));
    }

    // P-frames every third frame, each followed in decode order by the two
    // B-frames shown before it. The frame on show at Out is the first one not
    // in the cut; one just before it may need the P-frame after it, and then
    // the copy shows that one too, and the log says so.
    void end_data()
    {
        QTest::addColumn<double>("out");
        QTest::addColumn<QString>("limit"); // -t, from In 0.4 (an MP4 starts there)
        QTest::addColumn<double>("endsAt"); // named in the log; NaN: not past Out
        // Frame 24 (0.96) is a P-frame, decoded before 22 and 23: all before Out.
        // On show at 1.0: B-frame 25, whose P-frame 24 comes before it.
        QTest::newRow("after a P-frame") << 1.0 << "0.518" << qQNaN();
        // On show at 0.9: B-frame 22; P21 before it needs nothing later.
        QTest::newRow("on a B-frame after a P-frame") << 0.9 << "0.398" << qQNaN();
        // On show at 0.99: P24 itself, which B-frames 22 and 23 need.
        QTest::newRow("on a P-frame") << 0.99 << "0.518" << 1.0;
        // On show at 0.93: B-frame 23; B22 needs P24, which is shown after
        // 23: 23 is kept as well rather than leaving a hole.
        QTest::newRow("no frame is skipped") << 0.93 << "0.518" << 1.0;
        QTest::newRow("past the last frame") << 7.0 << "6.600" << qQNaN();
    }

    void end()
    {
        QFETCH(double, out);
        QFETCH(QString, limit);
        QFETCH(double, endsAt);
        const SourceLayout layout = layoutOf({h264, aac});
        const VideoIndex index = ibbp(150, 50);
        const CutPlan cut = plan(QStringLiteral("o.mp4"), 0.4, out, &layout, &index);
        QCOMPARE(argumentsFrom(cut.arguments, QStringLiteral("-t"), 2),
                 QStringLiteral("-t ") + limit);
        QStringList note;
        if (!qIsNaN(endsAt))
            note << QStringLiteral("Ends at %1, %2 s after Out: the frames before Out are decoded "
                                   "from a later frame, which stream copy keeps")
                        .arg(clockTime(endsAt), formatSeconds(endsAt - out));
        QCOMPARE(cut.notes.filter(QStringLiteral("Ends at")), note);
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("quoted");
        const auto row = [](const char *tag, const char *word, const char *quoted) {
            QTest::newRow(tag) << QString::fromUtf8(word) << QString::fromUtf8(quoted);
        };
        row("plain path", "/Movies/clip.mov", "/Movies/clip.mov");
        row("all safe punctuation", "a._-/+=:@%,b", "a._-/+=:@%,b");
        row("empty", "", "");
        row("space", "/My Movies/clip.mov", "'/My Movies/clip.mov'");
        row("apostrophe", "it's.mov", "'it'\\''s.mov'");
        row("command substitution", "$(rm -rf ~)", "'$(rm -rf ~)'");
        row("newline", "a\nb", "'a\nb'");
        row("accented", "/Vidéos/été.mov", "/Vidéos/été.mov");
        row("astral letter", "\U0001D400.mp4", "\U0001D400.mp4");
        row("emoji", "\U0001F600.mp4", "'\U0001F600.mp4'");
        row("no-break space", "a\u00A0b", "'a\u00A0b'");
    }

    void quoting()
    {
        QFETCH(QString, word);
        QFETCH(QString, quoted);
        QCOMPARE(shellQuoted(word), quoted);
    }

    void commandText()
    {
        const QString tool = writeStandIn(m_root, QStringLiteral("ffmpeg"), "exit 0");
        const QStringList arguments{"-n", "-i", "/My Movies/it's.mov", "/out/日本.mov"};
        QCOMPARE(shellCommand(arguments, {path("none")}),
                 QStringLiteral("ffmpeg -n -i '/My Movies/it'\\''s.mov' /out/日本.mov"));
        QVERIFY(shellCommand(arguments, {path("none"), tool})
                    .startsWith(tool + QStringLiteral(" -n ")));
    }

    // The preview is the command the next export runs: with the name it
    // would write now, never one that exists.
    void commandPreview()
    {
        VideoEditorViewModel model;
        model.ffmpegLocationsForTesting = QStringList{path("none")};
        QSignalSpy changed(&model, &VideoEditorViewModel::commandPreviewChanged);
        const QString output = path("out.mp4");
        model.setOutputPath(output);
        QCOMPARE(model.commandPreview(), QString()); // no source
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/in.mp4")));
        model.setInPointValue(1.5);
        model.setOutPointValue(4.25);
        QCOMPARE(
            model.commandPreview(),
            QStringLiteral("ffmpeg -hide_banner -n -ss 1.500 -i /in.mp4 -t 2.750 -map 0 -c copy "
                           "-map_metadata 0 -map_chapters 0 ") +
                output);
        QCOMPARE(changed.count(), 4);
        QFile(output).open(QIODevice::WriteOnly);
        QVERIFY(model.commandPreview().endsWith(QStringLiteral(" ") + path("out_1.mp4")));
        model.setOutputPath(QString());
        QCOMPARE(model.commandPreview(), QString());
    }
};

QTEST_MAIN(ArgumentsTest)
#include "test_arguments.moc"
