#include "export/FFmpegRunner.h"
#include "media/Player.h"
#include "model/Segments.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace trimora;

namespace {

QByteArray capture(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    return process.readAllStandardOutput();
}

QJsonObject probe(const QString &file, const QStringList &entries)
{
    QStringList args{"-v", "error", "-of", "json"};
    for (const QString &entry : entries)
        args << entry;
    args << file;
    return QJsonDocument::fromJson(capture("ffprobe", args)).object();
}

QString field(const QJsonObject &object, std::initializer_list<const char *> path)
{
    QJsonValue value = object;
    for (const char *key : path)
        value = value.toObject().value(QLatin1String(key));
    return value.toString();
}

double startTime(const QString &file)
{
    return field(probe(file, {"-show_entries", "format=start_time"}), {"format", "start_time"})
        .toDouble();
}

// Decoded pictures in display order: their checksums, their times from the
// file's origin and whether each is a keyframe.
struct Pictures
{
    QStringList md5;
    QVector<double> times;
    QVector<bool> key;
};

Pictures pictures(const QString &file)
{
    Pictures result;
    const QByteArray sums = capture("ffmpeg", {"-v", "error", "-i", file, "-map", "0:v:0",
                                               "-fps_mode", "passthrough", "-f", "framemd5", "-"});
    for (const QByteArray &line : sums.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        result.md5 << QString::fromLatin1(line.split(',').value(5).trimmed());
    }
    const double origin = startTime(file);
    const QJsonArray frames = probe(file, {"-select_streams", "v:0", "-show_entries",
                                           "frame=best_effort_timestamp_time,key_frame"})["frames"]
                                  .toArray();
    for (const QJsonValue &frame : frames) {
        result.times << frame["best_effort_timestamp_time"].toString().toDouble() - origin;
        result.key << (frame["key_frame"].toInt() == 1);
    }
    return result;
}

// One "kind,codec" per stream, and each stream's language and title.
QStringList streamsOf(const QString &file, QStringList *tags = nullptr)
{
    QStringList streams;
    const QJsonArray list = probe(file, {"-show_entries", "stream=codec_type,codec_name:"
                                                          "stream_tags=language,title"})["streams"]
                                .toArray();
    for (const QJsonValue &stream : list) {
        streams << field(stream.toObject(), {"codec_type"}) + ',' +
                       field(stream.toObject(), {"codec_name"});
        // "und" is how MP4 writes no language.
        const QString language = field(stream.toObject(), {"tags", "language"});
        if (tags)
            *tags << (language == QLatin1String("und") ? QString() : language) + '/' +
                         field(stream.toObject(), {"tags", "title"});
    }
    return streams;
}

// The time of the log line starting with prefix, as "HH:MM:SS.mmm,".
std::optional<double> noteTime(const QString &log, const QString &prefix)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QRegularExpression::escape(prefix) + " (\\d\\d):(\\d\\d):([\\d.]{6}),")
            .match(log);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60 +
           match.captured(3).toDouble();
}

// Start and end of each cue with text (MP4's empty gap samples aside) of the
// first subtitle stream, and the start of each chapter, in container time.
struct Span
{
    double start = 0.0;
    double end = 0.0;
};

QVector<Span> cuesOf(const QString &file)
{
    QVector<Span> cues;
    const QJsonArray packets = probe(file, {"-select_streams", "s:0", "-show_entries",
                                            "packet=pts_time,duration_time,size"})["packets"]
                                   .toArray();
    for (const QJsonValue &packet : packets) {
        const double start = packet["pts_time"].toString().toDouble();
        if (packet["size"].toString().toInt() > 2)
            cues.push_back({start, start + packet["duration_time"].toString().toDouble()});
    }
    return cues;
}

QVector<double> chaptersOf(const QString &file)
{
    QVector<double> starts;
    for (const QJsonValue &chapter : probe(file, {"-show_chapters"})["chapters"].toArray())
        starts << chapter["start_time"].toString().toDouble();
    return starts;
}

bool near(double a, double b)
{
    return std::abs(a - b) < 0.0025;
}

qsizetype indexOfTime(const QVector<double> &times, double t)
{
    for (qsizetype i = 0; i < times.size(); ++i) {
        if (std::abs(times[i] - t) < 0.0006)
            return i;
    }
    return -1;
}

} // namespace

// Cuts of the media matrix through the real export path (load, marks, Export)
// by the real ffmpeg, checked by decoding what was written: the first picture
// is the one shown at In, or the keyframe the log and the status line name;
// the last is the one before the picture on show at Out, or the one they say
// the cut runs to; nothing in between is missing; every stream is kept or
// reported; metadata stay; chapters and subtitle cues keep their times from
// the cut's first picture, a cue over either end clipped to it.
class RealExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QHash<QString, Pictures> m_sourcePictures; // decoded once per source

    QString exportCut(VideoEditorViewModel &model, double in, double out, const QString &name)
    {
        model.segments()->setIn(in);
        model.segments()->setOut(out);
        model.exports()->setOutputPath(m_dir.filePath(name));
        model.exports()->exportCut();
        if (!waitFor([&] { return !model.exports()->isProcessing(); }, 120000))
            return {};
        return model.exports()->outputPath();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!findFFmpeg())
            QSKIP("ffmpeg is not installed");
        Player::setDefaultOutput(Player::Output::None);
    }

    void matrix_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("in");
        QTest::addColumn<double>("out");
        QTest::addColumn<bool>("keyframeStart"); // the container cannot start at In
        QTest::addColumn<QList<int>>("leftOut");
        const auto row = [](const char *tag, const char *source, const char *output, double in,
                            double out, bool keyframeStart, QList<int> leftOut = {}) {
            QTest::newRow(tag) << QString(source) << QString(output) << in << out << keyframeStart
                               << leftOut;
        };
        // In and Out fall between keyframes (every 2 s) and inside B-frame groups.
        row("mp4", "mx-h264.mp4", "cut.mp4", 2.6, 4.9, false);
        row("mov", "mx.mov", "cut.mov", 2.63, 4.95, false);
        row("hevc", "mx-hevc.mp4", "cut.mp4", 2.6, 4.9, false);
        row("29.97 fps", "mx-ntsc.mp4", "cut.mp4", 2.5, 4.5, false);
        row("phone", "mx-phone.mp4", "cut.mp4", 1.3, 3.7, false);
        row("mp4 from 10 s", "mx-offset10.mp4", "cut.mp4", 2.6, 4.9, false);
        row("mkv", "mx-multi.mkv", "cut.mkv", 2.6, 4.9, true);
        row("mkv as mp4", "mx-multi.mkv", "cut.mp4", 2.6, 4.9, false, {3});
        row("multi mp4", "mx-multi.mp4", "cut.mp4", 2.6, 4.9, false);
        row("multi mp4 as mkv", "mx-multi.mp4", "cut.mkv", 1.3, 4.2, true, {3});
        row("webm", "mx-vp9.webm", "cut.webm", 2.6, 4.9, true);
        row("ts from 1.46 s", "mx.ts", "cut.ts", 2.6, 4.9, true);
        row("ts from 11.4 s", "mx-offset10.ts", "cut.ts", 2.6, 4.9, true);
        row("ts as mp4", "mx-offset10.ts", "cut.mp4", 1.3, 4.9, false);
        row("audio only", "mx-audio.m4a", "cut.m4a", 1.3, 4.2, false);
        // The picture on show at Out is never in the cut, wherever in it Out
        // falls (at 29.97 fps above, 4.5 lies in the picture shown from 4.471).
        row("variable frame rate, Out in a long frame", "vfr.mkv", "cut.mkv", 0.0, 1.3, false);
        // MP4 files MPEG audio of both layers under one tag.
        row("mp2 ts as mp4", "st-mp2.ts", "cut.mp4", 1.3, 3.7, false);
        // Out past the last picture, the sound that goes on left out.
        row("picture shorter than its sound", "st-longsound.mkv", "cut.mp4", 1.0, 5.0, false, {1});
        // Cues: "First" 1-4.2 s runs over the cut's start, "Second" 6-9 s over its end.
        row("timed text", "st-subs.mp4", "cut.mp4", 1.48, 8.48, false);
        row("timed text as mkv", "st-subs.mp4", "cut.mkv", 1.48, 8.48, true, {2});
        row("srt", "st-srt.mkv", "cut.mkv", 4.5, 8.48, true);
        row("srt as ts", "st-srt.mkv", "cut.ts", 4.5, 8.48, true, {2});
        row("ass", "st-ass.mkv", "cut.mkv", 1.48, 8.48, true);
    }

    void matrix()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(double, in);
        QFETCH(double, out);
        QFETCH(bool, keyframeStart);
        QFETCH(QList<int>, leftOut);
        const QString sourcePath = media(source);
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, sourcePath));
        QVERIFY(waitFor([&] { return model.movie()->isCutSourceReady(); }, 60000));
        const QString cut = exportCut(
            model, in, out,
            QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W+"), "_") +
                output);
        const QString log = model.exports()->logOutput();
        const QString status = log.section(QLatin1Char('\n'), -1);
        QVERIFY2(status.startsWith(QStringLiteral("✅ Completed successfully")), qPrintable(status));
        // Where the cut does not start at In or end at Out, the status line
        // says so too, in the log's words.
        for (const QString &note :
             log.split(QLatin1Char('\n')).filter(QRegularExpression("^(Starts|Ends) at "))) {
            QString fact = note.left(note.indexOf(QStringLiteral(": ")));
            fact[0] = fact[0].toLower();
            QVERIFY2(status.contains(fact), qPrintable(status));
        }

        // Streams: all of the source's but those the log reports left out,
        // with their language and title; the global creation time; chapters.
        QStringList sourceTags;
        QStringList outputTags;
        QStringList wanted = streamsOf(sourcePath, &sourceTags);
        QStringList written = streamsOf(cut, &outputTags);
        const bool chapters =
            !probe(sourcePath, {"-show_chapters"})["chapters"].toArray().isEmpty();
        if (chapters && source.endsWith(QLatin1String(".mp4")))
            wanted.removeLast(), sourceTags.removeLast(); // the chapter track is written anew
        if (chapters && output.endsWith(QLatin1String(".mp4")) &&
            written.last() == QLatin1String("data,bin_data"))
            written.removeLast(), outputTags.removeLast();
        for (qsizetype i = leftOut.size(); i-- > 0;) {
            const int index = leftOut[i];
            QVERIFY2(log.contains(QStringLiteral("Left out: %1 stream %2 (%3): ")
                                      .arg(wanted[index].section(',', 0, 0))
                                      .arg(index)
                                      .arg(wanted[index].section(',', 1))),
                     qPrintable(log));
            wanted.removeAt(index);
            sourceTags.removeAt(index);
        }
        QCOMPARE(log.count(QStringLiteral("Left out: ")), leftOut.size());
        if (output.endsWith(QLatin1String(".mp4")))
            wanted.replaceInStrings(QStringLiteral("audio,mp2"), QStringLiteral("audio,mp3"));
        QCOMPARE(written, wanted);
        // Titles of tracks are Matroska's; ffmpeg's MP4 and MPEG-TS keep languages.
        if (!output.endsWith(QLatin1String(".mkv")) && !output.endsWith(QLatin1String(".webm"))) {
            for (QStringList *tags : {&outputTags, &sourceTags})
                tags->replaceInStrings(QRegularExpression("/.*"), QString());
        }
        QCOMPARE(outputTags, sourceTags);
        const auto created = [](const QString &file) {
            return field(probe(file, {"-show_entries", "format_tags=creation_time"}),
                         {"format", "tags", "creation_time"});
        };
        QCOMPARE(created(cut), created(sourcePath));

        const std::optional<double> startNote =
            noteTime(log, QStringLiteral("Starts at the keyframe at"));
        QCOMPARE(startNote.has_value(), keyframeStart);
        if (wanted.filter(QRegularExpression("^video,")).isEmpty()) {
            // Sound alone starts and ends where it was marked.
            const double duration = probedDuration(cut);
            QVERIFY2(std::abs(duration - (out - in)) < 0.05, qPrintable(QString::number(duration)));
            return;
        }

        // Pictures: exactly the source's run from the first to the last one.
        if (!m_sourcePictures.contains(sourcePath))
            m_sourcePictures.insert(sourcePath, pictures(sourcePath));
        const Pictures &from = m_sourcePictures[sourcePath];
        const Pictures written_ = pictures(cut);
        QCOMPARE(from.md5.size(), from.times.size());
        qsizetype first = -1;
        if (startNote) {
            first = indexOfTime(from.times, *startNote);
            QVERIFY2(first >= 0 && from.key[first], qPrintable(log));
            QVERIFY(*startNote < in);
        } else {
            for (qsizetype i = 0; i < from.times.size() && from.times[i] <= in + 1e-6; ++i)
                first = i; // the picture on screen at In
        }
        qsizetype last = -1;
        if (const std::optional<double> endNote = noteTime(log, QStringLiteral("Ends at"))) {
            QVERIFY(*endNote > out);
            last = indexOfTime(from.times, *endNote) - 1;
            QVERIFY2(last >= 0, qPrintable(log));
        } else {
            for (qsizetype i = 0; i < from.times.size() && from.times[i] <= out + 1e-6; ++i)
                last = i - 1; // the one before the picture on show at Out
            if (out > from.times.last() + 0.04 - 1e-6)
                last = from.times.size() - 1; // none is: Out is past the last
        }
        QVERIFY(first >= 0 && last > first);
        QCOMPARE(written_.md5, from.md5.mid(first, last - first + 1));

        // On the cut's clock a source time t stands at cutFirst + t - sourceFirst.
        const double sourceFirst = from.times[first];
        const double sourceEnd = from.times.value(last + 1, from.times[last] + 0.04);
        const double sourceOrigin = startTime(sourcePath);
        const double cutFirst = written_.times.value(0) + startTime(cut);
        const auto onCut = [&](double sourceTime) {
            return cutFirst + sourceTime - sourceOrigin - sourceFirst;
        };
        const QVector<double> cutChapters = chaptersOf(cut);
        for (const double chapter : chaptersOf(sourcePath)) {
            if (chapter - sourceOrigin > sourceFirst + 0.01 && chapter - sourceOrigin < sourceEnd)
                QVERIFY2(std::any_of(cutChapters.begin(), cutChapters.end(),
                                     [&](double c) { return near(c, onCut(chapter)); }),
                         qPrintable(QStringLiteral("chapter %1").arg(chapter)));
        }
        if (written.filter(QRegularExpression("^subtitle,(subrip|ass|mov_text)$")).isEmpty())
            return;
        QVector<Span> expected;
        for (const Span &cue : cuesOf(sourcePath)) {
            const Span clipped{std::max(onCut(cue.start), cutFirst),
                               std::min(onCut(cue.end), onCut(sourceEnd + sourceOrigin))};
            if (clipped.end > clipped.start + 0.001)
                expected << clipped;
        }
        const QVector<Span> cues = cuesOf(cut);
        QCOMPARE(cues.size(), expected.size());
        for (qsizetype i = 0; i < cues.size(); ++i)
            QVERIFY2(near(cues[i].start, expected[i].start) && near(cues[i].end, expected[i].end),
                     qPrintable(QStringLiteral("cue %1: %2-%3, expected %4-%5")
                                    .arg(i)
                                    .arg(cues[i].start)
                                    .arg(cues[i].end)
                                    .arg(expected[i].start)
                                    .arg(expected[i].end)));
    }

    // A MOV's timecode track follows the cut's first frame: the frame shown at
    // In, or the keyframe before it where the container cannot start there.
    void timecodeFollowsTheCut_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("timecode"); // empty: left out, and said
        QTest::newRow("mov") << "tc.mov"
                             << "01:00:05:00";
        QTest::newRow("mkv") << "tc.mkv"
                             << "01:00:04:00";
        QTest::newRow("ts") << "tc.ts"
                            << "";
    }

    void timecodeFollowsTheCut()
    {
        QFETCH(QString, output);
        QFETCH(QString, timecode);
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("st-timecode.mov")));
        QVERIFY(waitFor([&] { return model.movie()->isCutSourceReady(); }, 60000));
        const QString cut = exportCut(model, 5.0, 6.0, output);
        const QString log = model.exports()->logOutput();
        QVERIFY2(log.section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("✅")),
                 qPrintable(log));
        QCOMPARE(log.contains(QStringLiteral("Left out: timecode stream 2 (tmcd): ")),
                 timecode.isEmpty());
        // Matroska spells its tags in capitals.
        const QJsonObject tags = probe(cut, {"-select_streams", "v:0", "-show_entries",
                                             "stream_tags"})["streams"][0]["tags"]
                                     .toObject();
        if (!timecode.isEmpty())
            QCOMPARE(tags.value(QStringLiteral("timecode"))
                         .toString(tags.value(QStringLiteral("TIMECODE")).toString()),
                     timecode);
    }

    // A download that stopped at 60 %: the load says where the picture ends;
    // a cut inside it succeeds, one past it is a failure that says why and
    // leaves nothing behind.
    void sourceThatEndsEarly()
    {
        VideoEditorViewModel model;
        QSignalSpy notice(&model, &VideoEditorViewModel::notice);
        QVERIFY(loadAndWait(model, QStringLiteral("st-stopped.mp4")));
        QCOMPARE(model.movie()->videoDuration(), 12.0); // what the file promises
        QVERIFY(notice.wait(60000));
        const QRegularExpressionMatch said =
            QRegularExpression(
                "^st-stopped\\.mp4 ends early: its picture stops at (\\d+\\.\\d\\d) s "
                "of 12\\.00 s$")
                .match(notice.first().first().toString());
        QVERIFY2(said.hasMatch(), qPrintable(notice.first().first().toString()));
        const double end = said.captured(1).toDouble();
        QVERIFY2(end > 6.0 && end < 8.0, qPrintable(said.captured(1)));

        const QString whole = exportCut(model, 1.0, end - 1.0, QStringLiteral("intact.mp4"));
        QVERIFY2(model.exports()
                     ->logOutput()
                     .section(QLatin1Char('\n'), -1)
                     .startsWith(QStringLiteral("✅")),
                 qPrintable(model.exports()->logOutput()));
        QVERIFY(QFileInfo::exists(whole));
        exportCut(model, 1.0, 9.0, QStringLiteral("past.mp4"));
        const QRegularExpressionMatch failed =
            QRegularExpression("❌ Failed: the source ends at (\\d+\\.\\d\\d) s; the cut holds "
                               "(\\d+\\.\\d\\d) s of 8\\.00 s$")
                .match(model.exports()->logOutput());
        QVERIFY2(failed.hasMatch(), qPrintable(model.exports()->logOutput()));
        QCOMPARE(failed.captured(1), said.captured(1));
        QVERIFY(std::abs(failed.captured(2).toDouble() - (end - 1.0)) < 0.1);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("past.mp4"))));
        QCOMPARE(
            QDir(m_dir.path()).entryList({QStringLiteral(".trimora*")}, QDir::Files | QDir::Hidden),
            QStringList());
    }

    // Two windows exporting to one name at the same moment: both cuts are
    // written whole, under two names, and the second says which it took.
    void twoWindowsShareOneName()
    {
        VideoEditorViewModel first, second;
        for (VideoEditorViewModel *model : {&first, &second}) {
            QVERIFY(loadAndWait(*model, QStringLiteral("mx-h264.mp4")));
            QVERIFY(waitFor([&] { return model->movie()->isCutSourceReady(); }, 60000));
            model->segments()->setIn(1.0);
            model->segments()->setOut(5.0);
            model->exports()->setOutputPath(m_dir.filePath(QStringLiteral("shared.mp4")));
        }
        first.exports()->exportCut();
        second.exports()->exportCut();
        QVERIFY(waitFor(
            [&] { return !first.exports()->isProcessing() && !second.exports()->isProcessing(); },
            120000));
        const QString logs =
            first.exports()->logOutput() + QLatin1Char('\n') + second.exports()->logOutput();
        QCOMPARE(logs.count(QStringLiteral("✅ Completed successfully")), 2);
        QCOMPARE(logs.count(QStringLiteral("Output: shared_1.mp4\n")), 1);
        for (const char *name : {"shared.mp4", "shared_1.mp4"})
            QVERIFY(std::abs(probedDuration(m_dir.filePath(QString::fromLatin1(name))) - 4.04) <
                    0.05);
    }

    // Several segments from the window, as files of their own, joined, cut
    // away, copied or exact: each file decodes whole without an error and
    // lasts what it holds (exact: the marked frames; copied: from keyframes,
    // never less); the log says what was re-encoded, or why it could not be
    // and that the copy was written instead.
    void segmentExports_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("choice"); // 1 joined, 2 cut away, 4 exact
        QTest::addColumn<QList<double>>("marks");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("note"); // the list's note on the first segment, before
        const auto row = [](const char *tag, const char *source, const char *output, int choice,
                            QList<double> marks, int files, const char *said, const char *note) {
            QTest::newRow(tag) << QString(source) << QString(output) << choice << marks << files
                               << QString::fromUtf8(said) << QString::fromUtf8(note);
        };
        row("joined mkv, two sounds and subtitles", "mx-multi.mkv", "j.mkv", 1,
            {3.1, 4.3, 0.7, 1.5}, 1, "Part 2: Starts at the keyframe at 00:00:00.021",
            "Starts at the keyframe at 00:00:02.021");
        row("cut away from a ts starting at 11.4 s", "mx-offset10.ts", "a.ts", 2, {1.0, 2.5}, 1,
            "Part 2: Starts at the keyframe", "The part after it shows its last");
        row("exact, a file each", "mx-h264.mp4", "e.mp4", 4, {1.3, 2.5, 3.1, 4.7}, 2,
            "re-encodes 0.92 s at the start; the rest is copied",
            "re-encodes 0.72 s at the start; the rest is copied");
        row("exact join of hevc", "mx-hevc.mp4", "e.mkv", 5, {0.5, 2.7, 3.1, 4.3}, 1,
            "of 2 parts; the rest is copied", "re-encodes 1.5");
        row("exact cut away of vp9", "mx-vp9.webm", "e.webm", 6, {1.3, 2.5}, 1,
            "of 2 parts; the rest is copied", "cut away exactly");
        row("open GOP: copied instead", "ex-opengop.mp4", "o.mp4", 4, {1.3, 4.7}, 1,
            "This movie cannot be cut exactly: its keyframes here are open-GOP pictures",
            "This movie cannot be cut exactly");
    }

    void segmentExports()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(int, choice);
        QFETCH(QList<double>, marks);
        QFETCH(int, files);
        QFETCH(QString, said);
        QFETCH(QString, note);
        QTemporaryDir folder;
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, source));
        QVERIFY(waitFor([&] { return model.movie()->isCutSourceReady(); }, 60000));
        SegmentList list;
        double marked = 0.0;
        for (int i = 0; i + 1 < marks.size(); i += 2) {
            list.segments.push_back({marks[i], marks[i + 1], {}});
            marked += marks[i + 1] - marks[i];
        }
        list.selected = 0;
        QVERIFY(model.segments()->replace(list, QStringLiteral("test")));
        const bool exact = choice & 4;
        // A copy cut a file does not read them.
        QVERIFY(!model.movie()->arePacketsRead());
        model.exports()->setChoice({bool(choice & 1), bool(choice & 2), exact});
        model.exports()->setOutputPath(folder.filePath(output));
        // The packets are read once a join or an exact cut is chosen.
        QVERIFY(waitFor([&] { return model.movie()->arePacketsRead(); }, 60000));
        QVERIFY2(model.exports()->copyNote(0).startsWith(note),
                 qPrintable(model.exports()->copyNote(0)));
        model.exports()->exportCut();
        QVERIFY(waitFor([&] { return !model.exports()->isProcessing(); }, 120000));
        const QString log = model.exports()->logOutput();
        QVERIFY2(log.contains(QStringLiteral("✅ Completed successfully")) && log.contains(said),
                 qPrintable(log));
        const QStringList written = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(written.size(), files);
        double length = 0.0;
        for (const QString &name : written) {
            const QString file = folder.filePath(name);
            QProcess decode;
            decode.start("ffmpeg",
                         {"-v", "error", "-i", file, "-map", "0", "-sn", "-dn", "-f", "null", "-"});
            QVERIFY(decode.waitForFinished(60000));
            QVERIFY2(decode.readAllStandardError().isEmpty(), qPrintable(name));
            length += probedDuration(file);
        }
        if (choice & 2)
            marked = probedDuration(media(source)) - marked;
        const bool copied = !exact || said.startsWith(QStringLiteral("This movie"));
        QVERIFY2(copied ? length >= marked - 0.05 : std::abs(length - marked) < 0.05 * files,
                 qPrintable(QStringLiteral("%1 s of %2 s").arg(length).arg(marked)));
    }

    // A joined or exact export cancelled leaves nothing, temporary or not.
    void cancelledExportLeavesNothing_data()
    {
        QTest::addColumn<bool>("exact");
        QTest::newRow("join") << false;
        QTest::newRow("exact") << true;
    }

    void cancelledExportLeavesNothing()
    {
        QFETCH(bool, exact);
        QTemporaryDir folder;
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("jn-ticks.mp4")));
        QVERIFY(waitFor([&] { return model.movie()->isCutSourceReady(); }, 60000));
        SegmentList list;
        for (int k = 0; k < 11; ++k)
            list.segments.push_back({k + 0.3, k + 0.8, {}});
        list.selected = 0;
        QVERIFY(model.segments()->replace(list, QStringLiteral("test")));
        model.exports()->setChoice({true, false, exact});
        model.exports()->setOutputPath(folder.filePath(QStringLiteral("j.mp4")));
        model.exports()->exportCut();
        QVERIFY(waitFor([&] { return model.exports()->progress() > 0.0; }, 60000));
        model.exports()->cancelExport();
        QVERIFY(waitFor([&] { return !model.exports()->isProcessing(); }, 10000));
        QVERIFY2(model.exports()->logOutput().contains(QStringLiteral("Cancelled")),
                 qPrintable(model.exports()->logOutput()));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void secondExportWritesNextName()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("export25.mp4")));
        exportCut(model, 1.0, 2.0, QStringLiteral("again.mp4"));
        QVERIFY(!model.exports()->logOutput().contains(QStringLiteral("Output: ")));
        exportCut(model, 1.0, 2.0, QStringLiteral("again.mp4"));
        QVERIFY(model.exports()->logOutput().endsWith(
            QStringLiteral("\nOutput: again_1.mp4\n✅ Completed successfully")));
        QVERIFY(QFileInfo(m_dir.path() + QStringLiteral("/again_1.mp4")).size() > 1000);
        QCOMPARE(model.exports()->outputPath(), m_dir.path() + QStringLiteral("/again.mp4"));
    }
};

QTEST_MAIN(RealExportTest)
#include "test_realexport.moc"
