#include "export/CopyJoinPlan.h"
#include "export/ExactCutPlan.h"
#include "export/FFmpegRunner.h"
#include "media/ExactCutter.h"
#include "support/SourceFrames.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>

using namespace trimora;

namespace {

const auto never = [] { return false; };

struct Run
{
    QByteArray out;
    QByteArray errors;
    int status = -1;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(120000))
        return result;
    result.out = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    result.status = process.exitCode();
    return result;
}

// What ffprobe reads of a file in one go: each content stream's kind and
// the span of its decoded frames, and the chapters.
struct Probed
{
    struct Stream
    {
        QString kind;
        QSize size;
        double start = INFINITY;
        double end = -INFINITY;
        double frame = 0.0; // the longest
    };
    QList<Stream> streams;
    QList<QPair<double, double>> chapters;

    QList<Stream> of(const QString &kind) const
    {
        QList<Stream> found;
        for (const Stream &stream : streams) {
            if (stream.kind == kind)
                found << stream;
        }
        return found;
    }
};

Probed probe(const QString &file)
{
    const QJsonObject json =
        QJsonDocument::fromJson(
            run(QStringLiteral("ffprobe"),
                {"-v", "error", "-of", "json", "-show_entries",
                 "stream=index,codec_type,width,height,avg_frame_rate:chapter=start_time,end_time:"
                 "frame=stream_index,pts_time,pkt_duration_time",
                 file})
                .out)
            .object();
    Probed probed;
    QHash<int, int> at; // stream index -> place in probed.streams
    QHash<int, double> nominal;
    for (const QJsonValue &value : json["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        // An MP4's chapters travel in a data track of their own.
        if (stream["codec_type"].toString() == QLatin1String("data"))
            continue;
        at[stream["index"].toInt()] = int(probed.streams.size());
        const QStringList rate = stream["avg_frame_rate"].toString().split('/');
        nominal[stream["index"].toInt()] =
            rate.value(0).toDouble() > 0 ? rate.value(1).toDouble() / rate.value(0).toDouble() : 0;
        probed.streams.append({stream["codec_type"].toString(),
                               QSize(stream["width"].toInt(), stream["height"].toInt())});
    }
    for (const QJsonValue &value : json["frames"].toArray()) {
        const QJsonObject frame = value.toObject();
        const int index = frame["stream_index"].toInt();
        if (!at.contains(index) || !frame.contains("pts_time"))
            continue;
        Probed::Stream &stream = probed.streams[at[index]];
        const double t = frame["pts_time"].toString().toDouble();
        // MP4 gives its last pictures no duration; the nominal one stands in.
        const double duration = frame.contains("pkt_duration_time")
                                    ? frame["pkt_duration_time"].toString().toDouble()
                                    : nominal[index];
        stream.start = std::min(stream.start, t);
        stream.end = std::max(stream.end, t + duration);
        stream.frame = std::max(stream.frame, duration);
    }
    for (const QJsonValue &value : json["chapters"].toArray())
        probed.chapters.append(
            {value["start_time"].toString().toDouble(), value["end_time"].toString().toDouble()});
    return probed;
}

// The picture's timecode tag, empty without one.
QString timecodeOf(const QString &file)
{
    return QString::fromUtf8(
        run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream_tags=timecode", "-of", "csv=p=0", file})
            .out.trimmed());
}

// How many pictures a file stores, edit lists aside: in an MP4 or MOV no
// edit list may hide any of them.
int storedPictures(const QString &file)
{
    return run(QStringLiteral("ffprobe"),
               {"-v", "error", "-ignore_editlist", "1", "-select_streams", "v:0", "-count_packets",
                "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file})
        .out
        .split('\n') // MPEG-TS lists its streams twice, side data adds a field
        .first()
        .split(',')
        .first()
        .toInt();
}

// Every picture of a file as the ffmpeg program decodes it, with what it
// complains of while decoding the pictures and the sound.
struct Decoded
{
    QVector<QImage> pictures;
    QByteArray errors;
};

Decoded decode(const QString &file, QSize size)
{
    const Run decoded =
        run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-fps_mode", "passthrough",
             "-pix_fmt", "bgr0", "-f", "rawvideo", "-", "-map", "0:a?", "-f", "null", "-"});
    Decoded result;
    result.errors = decoded.status == 0 ? decoded.errors : decoded.errors + "(failed)";
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 4;
    for (qsizetype at = 0; bytes > 0 && at + bytes <= decoded.out.size(); at += bytes)
        result.pictures << QImage(reinterpret_cast<const uchar *>(decoded.out.constData() + at),
                                  size.width(), size.height(), size.width() * 4,
                                  QImage::Format_RGB32)
                               .copy();
    return result;
}

// Each stream's packets as ffprobe reads them, in file order.
struct StreamPackets
{
    QString kind;
    QVector<double> pts, dts, duration;
    QVector<bool> key;
};

QMap<int, StreamPackets> packetsOf(const QString &file)
{
    const QJsonObject json =
        QJsonDocument::fromJson(
            run(QStringLiteral("ffprobe"),
                {"-v", "error", "-of", "json", "-show_entries",
                 "stream=index,codec_type:packet=stream_index,pts_time,dts_time,"
                 "duration_time,flags",
                 file})
                .out)
            .object();
    QMap<int, StreamPackets> streams;
    for (const QJsonValue &value : json["streams"].toArray())
        streams[value["index"].toInt()].kind = value["codec_type"].toString();
    for (const QJsonValue &value : json["packets"].toArray()) {
        StreamPackets &stream = streams[value["stream_index"].toInt()];
        stream.pts << value["pts_time"].toString().toDouble();
        // Matroska leaves the first decode times out.
        stream.dts << value["dts_time"].toString(QStringLiteral("nan")).toDouble();
        stream.duration << value["duration_time"].toString().toDouble();
        stream.key << value["flags"].toString().startsWith('K');
    }
    return streams;
}

// Where the sound of a file's audio track k ticks, in seconds from origin:
// the first sample of each burst louder than half the ticks' level.
QVector<double> ticksOf(const QString &file, int k, double origin)
{
    const QJsonObject json =
        QJsonDocument::fromJson(
            run(QStringLiteral("ffprobe"),
                {"-v", "error", "-of", "json", "-select_streams", QStringLiteral("a:%1").arg(k),
                 "-show_entries", "stream=start_time", file})
                .out)
            .object();
    const double start = json["streams"][0]["start_time"].toString().toDouble() - origin;
    const QByteArray samples =
        run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-nostdin", "-i", file, "-map", QStringLiteral("0:a:%1").arg(k), "-ac",
             "1", "-ar", "48000", "-f", "s16le", "-"})
            .out;
    const auto *pcm = reinterpret_cast<const qint16 *>(samples.constData());
    QVector<double> ticks;
    qsizetype last = -48000;
    for (qsizetype i = 0; i < samples.size() / 2; ++i) {
        if (std::abs(pcm[i]) > 13000 && i - last > 4800)
            ticks << start + double(i) / 48000;
        if (std::abs(pcm[i]) > 13000)
            last = i;
    }
    return ticks;
}

} // namespace

// Exact cuts of real movies of every codec and container the cut handles,
// each output decoded whole by the ffmpeg program and played by mpv: it holds
// exactly the source frames from the one on show at In to the one before
// the one on show at Out, in order, nothing hidden; the sound spans the same
// time; every stream is kept. One seam broken on purpose must be caught by
// the cut's own check.
class InProcessCutTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QHash<QString, SourceFrames> m_sources;
    QHash<QString, Probed> m_probed;
    QStringList m_outputs; // for mpv, which plays them all in one go

    const SourceFrames &sourceFrames(const QString &name)
    {
        if (!m_sources.contains(name))
            m_sources.insert(name, decodeSourceFrames(name));
        return m_sources[name];
    }

    struct Written
    {
        QString file;
        ExactOutcome outcome;
        bool progressed = false; // from 0 up to 1, never back
    };

    // Carries out a job into a file named after the row, for mpv to play too.
    Written write(const ExactJob &job, const QString &source, const QString &output)
    {
        Written written;
        written.file = m_dir.filePath(
            QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W+"), "_") +
            output);
        double reported = 0.0;
        bool rising = true;
        written.outcome = runExactCut(
            job, mediaPath(source), written.file.toStdString(),
            [&](double done) {
                rising = rising && done >= reported;
                reported = done;
            },
            never);
        written.progressed = rising && reported == 1.0;
        if (written.outcome.failure.empty())
            m_outputs << written.file;
        return written;
    }

    static ExactCutPlan plan(const QString &source, const QList<double> &marks,
                             const QString &output)
    {
        std::vector<CutRange> ranges;
        for (int i = 0; i + 1 < marks.size(); i += 2)
            ranges.push_back({marks[i], marks[i + 1]});
        return planExactCut(
            std::make_shared<const ExactSource>(readExactSource(mediaPath(source), never).value()),
            ranges, output);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!findFFmpeg())
            QSKIP("ffmpeg is not installed");
    }

    void matrix_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<double>>("marks"); // In, Out of each range in list order
        QTest::addColumn<int>("head");            // frames re-encoded before the first copy
        QTest::addColumn<QString>("refusal");
        const auto row = [](const char *tag, const char *source, const char *output,
                            QList<double> marks, int head, const char *refusal = "") {
            QTest::newRow(tag) << QString(source) << QString(output) << marks << head
                               << QString(refusal);
        };
        // Keyframes every 2 s at 25 fps, B-frames between.
        row("mp4 between keyframes", "mx-h264.mp4", "cut.mp4", {1.3, 4.7}, 18);
        row("mp4 In one frame before a keyframe", "mx-h264.mp4", "cut.mp4", {1.96, 3.0}, 1);
        row("mp4 In one frame after a keyframe", "mx-h264.mp4", "cut.mp4", {2.04, 4.5}, 49);
        row("mp4 on a keyframe, Out one frame before one", "mx-h264.mp4", "cut.mp4", {2.0, 3.96},
            0);
        row("mp4 one frame", "mx-h264.mp4", "cut.mp4", {2.6, 2.64}, 1);
        row("mp4 two ranges", "mx-h264.mp4", "cut.mp4", {0.5, 1.5, 2.6, 5.2}, 25 + 35);
        row("mkv two sounds, subtitles, chapters, ranges backwards", "mx-multi.mkv", "cut.mkv",
            {3.1, 4.3, 0.7, 2.5}, 24);
        row("ts from 11.4 s", "mx-offset10.ts", "cut.ts", {1.3, 4.7}, 19);
        row("ts as mp4", "mx-offset10.ts", "cut.mp4", {2.5, 5.0}, 39);
        row("hevc from a CRA", "mx-hevc.mp4", "cut.mp4", {1.3, 4.7}, 18);
        row("hevc 10-bit mkv", "ex-hevc10.mkv", "cut.mkv", {1.3, 4.7}, 18);
        row("vp9 webm", "mx-vp9.webm", "cut.webm", {1.3, 4.7}, 18);
        row("29.97 fps", "mx-ntsc.mp4", "cut.mp4", {1.3, 4.7}, 22);
        row("open GOP inside one interval", "ex-opengop.mp4", "cut.mp4", {2.3, 3.3}, 25);
        row("open GOP across keyframes", "ex-opengop.mp4", "cut.mp4", {1.3, 4.7}, 0, "open-GOP");
        row("mp4 hiding its lead-in", "mx-hidden.mp4", "cut.mp4", {0.2, 2.5}, 30);
        row("hevc as MPEG-TS", "mx-hevc.mp4", "cut.ts", {1.3, 4.7}, 18);
        row("vp9 into MPEG-TS", "mx-vp9.webm", "cut.ts", {1.3, 4.7}, 0, "cannot take");
    }

    void matrix()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(QList<double>, marks);
        QFETCH(int, head);
        QFETCH(QString, refusal);
        const ExactCutPlan cut = plan(source, marks, output);
        if (!refusal.isEmpty()) {
            QVERIFY2(cut.refusal.contains(refusal), qPrintable(cut.refusal));
            QVERIFY(cut.summary.endsWith(QStringLiteral("Copy will be used.")));
            return;
        }
        QVERIFY2(cut.refusal.isEmpty(), qPrintable(cut.refusal));
        const Written written = write(cut.job, source, output);
        const ExactOutcome &outcome = written.outcome;
        const QString &file = written.file;
        QVERIFY2(outcome.failure.empty(), outcome.failure.c_str());
        QVERIFY(written.progressed);
        int encodedFirst = 0;
        while (encodedFirst < outcome.framesWritten &&
               outcome.record.pictures[static_cast<std::size_t>(encodedFirst)].encoded)
            ++encodedFirst;
        QCOMPARE(std::min(encodedFirst, static_cast<int>(outcome.framesWritten)), head);

        // The pictures: exactly the marked source frames, in order.
        const SourceFrames &frames = sourceFrames(source);
        QVERIFY(frames.isValid());
        QVector<int> expected;
        for (int i = 0; i + 1 < marks.size(); i += 2) {
            const int last = marks[i + 1] >= frames.times.last() + 0.04
                                 ? int(frames.times.size())
                                 : frames.frameAt(marks[i + 1]);
            for (int f = frames.frameAt(marks[i]); f < last; ++f)
                expected << f;
        }
        const Probed probed = probe(file);
        const Probed::Stream picture = probed.of(QStringLiteral("video")).value(0);
        // What the editor said before: the seconds re-encoded at the start.
        if (marks.size() == 2 && head > 0) {
            const QRegularExpressionMatch said =
                QRegularExpression(QStringLiteral("^re-encodes (all )?(\\d+\\.\\d\\d) s"))
                    .match(cut.summary);
            QVERIFY2(said.hasMatch(), qPrintable(cut.summary));
            QCOMPARE(said.captured(2), QString::number(head * picture.frame, 'f', 2));
        }
        const Decoded decoded = decode(file, picture.size);
        QVERIFY2(decoded.errors.isEmpty(), decoded.errors.constData());
        QVector<int> shown;
        double worst = 0.0;
        for (const QImage &image : decoded.pictures) {
            shown << frames.match(image);
            worst = std::max(worst, frames.difference(image, shown.last()));
        }
        QCOMPARE(shown, expected);
        QVERIFY2(worst < 6.0, qPrintable(QString::number(worst)));

        QCOMPARE(storedPictures(file), int(expected.size()));
        // Each sound track spans the picture's time within one of its frames.
        if (!m_probed.contains(source))
            m_probed.insert(source, probe(media(source)));
        const Probed &original = m_probed[source];
        const QList<Probed::Stream> sounds = probed.of(QStringLiteral("audio"));
        QCOMPARE(sounds.size(), original.of(QStringLiteral("audio")).size());
        for (const Probed::Stream &sound : sounds) {
            QVERIFY2(std::abs(sound.start - picture.start) <= sound.frame + 1e-3,
                     qPrintable(QStringLiteral("%1 vs %2").arg(sound.start).arg(picture.start)));
            QVERIFY2(std::abs(sound.end - picture.end) <= sound.frame + 1e-3,
                     qPrintable(QStringLiteral("%1 vs %2").arg(sound.end).arg(picture.end)));
        }
        // Chapters that cover the source cover the cut, in order.
        if (!original.chapters.isEmpty()) {
            double at = 0.0;
            for (const auto &[from, until] : probed.chapters) {
                QVERIFY(std::abs(from - at) < 0.05 && until > from);
                at = until;
            }
            QVERIFY(std::abs(at - (picture.end - picture.start)) < 0.05);
        }
        // Every stream kept but those the plan reports left out.
        QCOMPARE(probed.streams.size() + cut.notes.size(), original.streams.size());
    }

    void joins_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<double>>("marks");  // In, Out of each range in list order
        QTest::addColumn<QList<double>>("starts"); // where each starts; empty: the keyframe
        QTest::addColumn<QString>("refusal");
        const auto row = [](const char *tag, const char *source, const char *output,
                            QList<double> marks, QList<double> starts = {},
                            const char *refusal = "") {
            QTest::newRow(tag) << QString(source) << QString(output) << marks << starts
                               << QString(refusal);
        };
        // Eleven ranges of unequal lengths, each from within one second.
        QList<double> eleven;
        for (int k = 0; k <= 10; ++k)
            eleven << k + 0.3 + 0.01 * k << k + 0.63 + 0.03 * k;
        row("mp4 parts out of order", "mx-h264.mp4", "join.mp4", {3.3, 4.1, 0.5, 1.7, 4.5, 6.0});
        row("mkv two sounds, subtitles, chapters", "mx-multi.mkv", "join.mkv",
            {0.7, 1.5, 3.1, 4.3});
        row("ten joins, two sounds, from 11.4 s", "jn-ticks.ts", "join.ts", eleven);
        row("ten joins into Matroska", "jn-ticks.mp4", "join.mkv", eleven);
        row("hevc from CRAs", "mx-hevc.mp4", "join.mp4", {0.5, 1.3, 2.5, 3.5, 4.2, 5.0});
        row("vp9 webm", "mx-vp9.webm", "join.webm", {0.5, 1.3, 2.5, 3.5});
        // Its only IDR picture is the first.
        row("h264 open GOP", "ex-opengop.mp4", "join.mp4", {0.5, 1.3, 2.5, 3.5}, {0.0, 0.0});
        row("mpeg-2 in ts", "st-mp2.ts", "join.ts", {0.7, 1.3, 2.9, 3.5, 4.1, 5.0});
        row("mpeg-4 part 2, ac-3", "jn-mpeg4.mkv", "join.mkv", {0.3, 1.1, 2.3, 3.0});
        row("motion jpeg, pcm", "jn-mjpeg.mov", "join.mov", {0.3, 1.1, 2.3, 3.0});
        row("mov with a timecode", "st-timecode.mov", "join.mov", {2.3, 3.1, 5.5, 6.2});
        row("vp9 into MPEG-TS", "mx-vp9.webm", "join.ts", {0.5, 1.3}, {}, "cannot hold");
    }

    // Joins of copied ranges: each output decoded whole, each range the
    // source's frames from the keyframe at or before In, whole, to just
    // before Out (a frame or two later where B-frames need it, as the facts
    // say); picture and sound timestamps without gap or overlap at the joins;
    // the sound within one of its frames of the picture after every join,
    // read back from ticks in the sound.
    void joins()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(QList<double>, marks);
        QFETCH(QList<double>, starts);
        QFETCH(QString, refusal);
        std::vector<CutRange> ranges;
        for (int i = 0; i + 1 < marks.size(); i += 2)
            ranges.push_back({marks[i], marks[i + 1]});
        const CopyJoinPlan join = planCopyJoin(
            std::make_shared<const ExactSource>(readExactSource(mediaPath(source), never).value()),
            ranges, output);
        if (!refusal.isEmpty()) {
            QVERIFY2(join.refusal.contains(refusal), qPrintable(join.refusal));
            return;
        }
        QVERIFY2(join.refusal.isEmpty(), qPrintable(join.refusal));
        const Written written = write(join.job, source, output);
        const QString &file = written.file;
        QVERIFY2(written.outcome.failure.empty(), written.outcome.failure.c_str());
        QVERIFY(written.progressed);

        const SourceFrames &frames = sourceFrames(source);
        const QMap<int, StreamPackets> original = packetsOf(media(source));
        QVector<double> keyframes;
        for (const StreamPackets &stream : original) {
            for (qsizetype i = 0; stream.kind == QLatin1String("video") && i < stream.pts.size();
                 ++i) {
                if (stream.key[i])
                    keyframes << stream.pts[i] - frames.origin;
            }
            if (!keyframes.isEmpty())
                break;
        }
        std::sort(keyframes.begin(), keyframes.end());
        const Probed probed = probe(file);
        const Decoded decoded = decode(file, probed.of(QStringLiteral("video")).value(0).size);
        QVERIFY2(decoded.errors.isEmpty(), decoded.errors.constData());
        QVector<int> shown;
        for (const QImage &image : decoded.pictures)
            shown << frames.match(image);
        QCOMPARE(storedPictures(file), int(shown.size()));
        QVector<QPair<int, int>> runs; // first and last source frame of each part
        for (qsizetype j = 0; j < shown.size(); ++j) {
            if (j == 0 || shown[j] != shown[j - 1] + 1)
                runs.append({shown[j], shown[j]});
            runs.last().second = shown[j];
        }
        QCOMPARE(runs.size(), qsizetype(ranges.size()));
        for (qsizetype i = 0; i < runs.size(); ++i) {
            const int atIn = frames.frameAt(ranges[i].in);
            const auto key =
                std::upper_bound(keyframes.begin(), keyframes.end(), frames.times[atIn] + 1e-4);
            QVERIFY(key != keyframes.begin());
            QCOMPARE(runs[i].first, frames.frameAt(starts.isEmpty() ? *(key - 1) : starts[i]));
            const int atOut = ranges[i].out >= frames.times.last() + 0.04
                                  ? int(frames.times.size())
                                  : frames.frameAt(ranges[i].out);
            QVERIFY2(runs[i].second >= atOut - 1 && runs[i].second <= atOut + 2,
                     qPrintable(QStringLiteral("part %1 ends at %2").arg(i).arg(runs[i].second)));
            const QString facts = join.facts[size_t(i)].join(QLatin1Char(' '));
            QCOMPARE(facts.contains(QStringLiteral("Starts at the keyframe at")),
                     runs[i].first < atIn);
            QCOMPARE(facts.contains(QStringLiteral("Ends at")), runs[i].second >= atOut);
        }

        // Timestamps: the picture's steady, decode times rising; the sound's
        // packets end to end, starting and ending within one of them of the
        // picture.
        const QMap<int, StreamPackets> stored = packetsOf(file);
        QVector<double> pictureTimes;
        double frame = 0.0;
        for (const StreamPackets &stream : stored) {
            if (stream.kind != QLatin1String("video"))
                continue;
            pictureTimes = stream.pts;
            std::sort(pictureTimes.begin(), pictureTimes.end());
            frame = (pictureTimes.last() - pictureTimes.first()) / (pictureTimes.size() - 1);
            for (qsizetype i = 1; i < pictureTimes.size(); ++i) {
                const double step = pictureTimes[i] - pictureTimes[i - 1];
                QVERIFY2(
                    std::abs(step - frame) < 0.2 * frame,
                    qPrintable(
                        QStringLiteral("a step of %1 s at %2").arg(step).arg(pictureTimes[i])));
                QVERIFY(!(stream.dts[i] <= stream.dts[i - 1]));
            }
        }
        const double pictureEnd = pictureTimes.last() + frame;
        int track = 0;
        for (const StreamPackets &stream : stored) {
            if (stream.kind != QLatin1String("audio"))
                continue;
            const double longest =
                *std::max_element(stream.duration.begin(), stream.duration.end());
            for (qsizetype i = 1; i < stream.pts.size(); ++i)
                QVERIFY2(std::abs(stream.pts[i] - stream.pts[i - 1] - stream.duration[i - 1]) <
                             1.5e-3,
                         qPrintable(QStringLiteral("sound at %1").arg(stream.pts[i])));
            QVERIFY(std::abs(stream.pts.first() - pictureTimes.first()) <= longest + 1e-3);
            QVERIFY2(std::abs(stream.pts.last() + stream.duration.last() - pictureEnd) <=
                         longest + 1e-3,
                     qPrintable(QStringLiteral("%1 vs %2")
                                    .arg(stream.pts.last() + stream.duration.last())
                                    .arg(pictureEnd)));
            if (source.startsWith(QLatin1String("jn-ticks"))) {
                // Each tick heard lies where the picture shows the moment it
                // was heard in the source.
                const QVector<double> heard = ticksOf(file, track, 0.0);
                const QVector<double> sourced = ticksOf(media(source), track, frames.origin);
                QVERIFY(heard.size() >= qsizetype(ranges.size()));
                for (const double t : heard) {
                    const qsizetype j =
                        std::upper_bound(pictureTimes.begin(), pictureTimes.end(), t) -
                        pictureTimes.begin() - 1;
                    if (j < 0 || j >= shown.size())
                        continue;
                    const double at = frames.times[shown[j]] + t - pictureTimes[j];
                    const auto near =
                        std::min_element(sourced.begin(), sourced.end(), [&](double a, double b) {
                            return std::abs(a - at) < std::abs(b - at);
                        });
                    QVERIFY2(std::abs(*near - at) <= longest + 3e-3,
                             qPrintable(QStringLiteral("track %1: a tick at %2 s is %3 s off")
                                            .arg(track)
                                            .arg(t)
                                            .arg(at - *near)));
                }
            }
            ++track;
        }
        // Every stream kept but those the plan reports left out; a timecode
        // (at 25 fps) moved on to the first frame.
        if (!m_probed.contains(source))
            m_probed.insert(source, probe(media(source)));
        QCOMPARE(probed.streams.size() + join.notes.size(), m_probed[source].streams.size());
        const QString timecode = timecodeOf(media(source));
        if (!timecode.isEmpty())
            QCOMPARE(timecodeOf(file), QStringLiteral("%1:%2:%3")
                                           .arg(timecode.left(5))
                                           .arg(runs[0].first / 25, 2, 10, QLatin1Char('0'))
                                           .arg(runs[0].first % 25, 2, 10, QLatin1Char('0')));
    }

    // mpv plays every output without a complaint.
    void outputsPlayInMpv()
    {
        if (m_outputs.isEmpty())
            QSKIP("no output was written");
        const Run played =
            run(QStringLiteral("mpv"),
                QStringList{"--no-config", "--vo=null", "--ao=null", "--ao-null-untimed",
                            "--untimed", "--msg-level=all=error"} +
                    m_outputs);
        QVERIFY2(played.status == 0 && played.out.trimmed().isEmpty(), played.out.constData());
    }

    // Cancelled at any point, an exact cut or a join stops promptly and says
    // so: in the edges (the head here, the reference and the tail on their
    // own thread), in the writing and in the check.
    void cancelStopsTheCut()
    {
        const ExactJob cut = plan(QStringLiteral("mx-h264.mp4"), {1.3, 4.7}, "cut.mp4").job;
        std::vector<CutRange> ranges;
        for (int k = 0; k <= 10; ++k)
            ranges.push_back({k + 0.3, k + 0.7});
        const ExactJob join =
            planCopyJoin(std::make_shared<const ExactSource>(
                             readExactSource(mediaPath("jn-ticks.mp4"), never).value()),
                         ranges, "join.mkv")
                .job;
        for (const auto &[job, source] :
             {std::pair{&cut, "mx-h264.mp4"}, {&join, "jn-ticks.mp4"}}) {
            for (const int after : {0, 60, 260, 500}) {
                std::atomic<int> asked{0};
                QElapsedTimer sinceCancel;
                const ExactOutcome outcome = runExactCut(
                    *job, mediaPath(source),
                    m_dir.filePath(QStringLiteral("cancelled%1.mkv").arg(after)).toStdString(), {},
                    [&] {
                        if (++asked == after + 1)
                            sinceCancel.start();
                        return asked > after;
                    });
                QVERIFY2(outcome.cancelled, outcome.failure.c_str());
                QVERIFY(sinceCancel.elapsed() < 1000);
            }
        }
    }

    // The fault the parameter sets invite: the encoder's sets under the
    // source's id, so that the copied pictures decode with the wrong ones.
    void brokenSeamIsCaught()
    {
        ExactCutPlan cut = plan(QStringLiteral("mx-h264.mp4"), {1.3, 4.7}, "cut.mp4");
        QVERIFY(cut.refusal.isEmpty());
        QVERIFY(cut.job.h264ParameterSetId > 0);
        cut.job.h264ParameterSetId = cut.job.source->video->parameterSetIds.front();
        const ExactOutcome outcome =
            runExactCut(cut.job, mediaPath("mx-h264.mp4"),
                        m_dir.filePath(QStringLiteral("broken.mp4")).toStdString(), {}, never);
        QVERIFY2(QString::fromStdString(outcome.failure).startsWith(QStringLiteral("decoding:")),
                 outcome.failure.c_str());
    }
};

QTEST_GUILESS_MAIN(InProcessCutTest)
#include "test_inprocess.moc"
