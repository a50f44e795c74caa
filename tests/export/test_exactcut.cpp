#include "export/ExactCutPlan.h"
#include "export/FFmpegRunner.h"
#include "media/ExactCutter.h"
#include "support/SourceFrames.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

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

// The decoded frames of one kind of stream: the first one's start and the
// last one's end, and the longest frame.
struct Span
{
    double start = 0.0;
    double end = 0.0;
    double frame = 0.0;
    int frames = 0;
};

QList<Span> spans(const QString &file, const char *kind)
{
    QList<Span> result;
    // MPEG-TS lists its streams twice, once under their program.
    QStringList seen;
    const QByteArray streams =
        run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", kind, "-show_entries",
                                        "stream=index,avg_frame_rate", "-of", "csv=p=0", file})
            .out;
    for (const QByteArray &stream : streams.split('\n')) {
        const QString index = QString::fromLatin1(stream.split(',').value(0).trimmed());
        if (index.isEmpty() || seen.contains(index))
            continue;
        seen << index;
        const QList<QByteArray> rate = stream.split(',').value(1).trimmed().split('/');
        Span span;
        span.start = INFINITY;
        span.end = -INFINITY;
        // MP4 gives its last pictures no duration; the nominal one stands in.
        const double nominal = rate.value(0).toDouble() > 0
                                   ? rate.value(1).toDouble() / rate.value(0).toDouble()
                                   : 0.0;
        const QByteArray frames = run(QStringLiteral("ffprobe"),
                                      {"-v", "error", "-select_streams", index, "-show_entries",
                                       "frame=pts_time,pkt_duration_time", "-of", "csv=p=0", file})
                                      .out;
        for (const QByteArray &line : frames.split('\n')) {
            const QList<QByteArray> fields = line.split(',');
            bool ok = false;
            const double t = fields.value(0).toDouble(&ok);
            if (!ok)
                continue;
            bool known = false;
            const double duration = fields.value(1).toDouble(&known);
            span.start = std::min(span.start, t);
            span.end = std::max(span.end, t + (known ? duration : nominal));
            span.frame = std::max(span.frame, known ? duration : nominal);
            ++span.frames;
        }
        result << span;
    }
    return result;
}

// The content streams: an MP4's chapter track aside.
QStringList streamKinds(const QString &file)
{
    QStringList kinds; // "index,kind", once each (MPEG-TS lists them under their program too)
    for (const QString &line :
         QString::fromLatin1(
             run(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries",
                                             "stream=index,codec_type", "-of", "csv=p=0", file})
                 .out)
             .split('\n', Qt::SkipEmptyParts)) {
        if (!kinds.contains(line) && !line.endsWith(QLatin1String("data")))
            kinds << line;
    }
    return kinds;
}

// Each chapter's start and end, in order.
QList<QPair<double, double>> chapters(const QString &file)
{
    QList<QPair<double, double>> result;
    const QByteArray lines =
        run(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "chapter=start_time,end_time", "-of", "csv=p=0", file})
            .out;
    for (const QByteArray &line : lines.split('\n')) {
        if (line.contains(','))
            result.append(
                {line.split(',').value(0).toDouble(), line.split(',').value(1).toDouble()});
    }
    return result;
}

// Which source frame each picture of the output shows, by the clock and
// counter the test pattern prints, and how far the worst one is from it.
struct Matched
{
    QVector<int> frames;
    double worst = 0.0;
};

Matched match(const SourceFrames &source, const QString &file)
{
    Matched matched;
    const SourceFrames output = decodeSourceFrames(file);
    for (const QImage &corner : output.corners) {
        int best = -1;
        double least = INFINITY;
        for (int i = 0; i < source.corners.size(); ++i) {
            const double difference = source.cornerDifference(corner, i);
            if (difference < least) {
                least = difference;
                best = i;
            }
        }
        matched.frames << best;
        matched.worst = std::max(matched.worst, least);
    }
    return matched;
}

} // namespace

// Exact cuts of real movies of every codec and container the cut handles,
// each output decoded whole by the ffmpeg program and by mpv: it holds
// exactly the source frames from the one on show at In to the one before
// the one on show at Out, in order, nothing hidden; the sound spans the same
// time; every stream is kept. One seam broken on purpose must be caught by
// the cut's own check.
class ExactCutTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QHash<QString, SourceFrames> m_sources;

    const SourceFrames &sourceFrames(const QString &name)
    {
        if (!m_sources.contains(name))
            m_sources.insert(name, decodeSourceFrames(name));
        return m_sources[name];
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
        m_dir.setAutoRemove(false);
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
        row("mkv two sounds, subtitles, chapters", "mx-multi.mkv", "cut.mkv", {1.3, 4.7}, 19);
        row("mkv two ranges backwards", "mx-multi.mkv", "cut.mkv", {3.1, 4.3, 0.7, 2.5}, 24);
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
        const QString file = m_dir.filePath(
            QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W+"), "_") +
            output);
        double reported = 0.0;
        const ExactOutcome outcome = runExactCut(
            cut.job, mediaPath(source), file.toStdString(),
            [&](double done) {
                QVERIFY(done >= reported);
                reported = done;
            },
            never);
        QVERIFY2(outcome.failure.empty(), outcome.failure.c_str());
        QCOMPARE(reported, 1.0);
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
        const Matched matched = match(frames, file);
        QCOMPARE(matched.frames, expected);
        QVERIFY2(matched.worst < 6.0, qPrintable(QString::number(matched.worst)));

        // Decoded whole without a complaint, by the ffmpeg program and by mpv;
        // an edit list hides nothing.
        const Run decoded = run(QStringLiteral("ffmpeg"), {"-v", "error", "-i", file, "-map", "0:v",
                                                           "-map", "0:a?", "-f", "null", "-"});
        QVERIFY2(decoded.status == 0 && decoded.errors.isEmpty(), decoded.errors.constData());
        const Run played = run(QStringLiteral("mpv"), {"--no-config", "--vo=null", "--ao=null",
                                                       "--untimed", "--msg-level=all=error", file});
        QVERIFY2(played.status == 0 && played.out.trimmed().isEmpty(), played.out.constData());
        const Run stored =
            run(QStringLiteral("ffprobe"),
                {"-v", "error", "-ignore_editlist", "1", "-select_streams", "v:0", "-count_packets",
                 "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file});
        QCOMPARE(stored.out.split('\n').value(0).trimmed().toInt(), int(expected.size()));

        // The sound spans the picture's time, each track within one of its frames.
        const Span picture = spans(file, "v:0").value(0);
        const QList<Span> sounds = spans(file, "a");
        QCOMPARE(sounds.size(), spans(media(source), "a").size());
        for (const Span &sound : sounds) {
            QVERIFY2(std::abs(sound.start - picture.start) <= sound.frame + 1e-3,
                     qPrintable(QStringLiteral("%1 vs %2").arg(sound.start).arg(picture.start)));
            QVERIFY2(std::abs(sound.end - picture.end) <= sound.frame + 1e-3,
                     qPrintable(QStringLiteral("%1 vs %2").arg(sound.end).arg(picture.end)));
        }
        // Chapters that cover the source cover the cut, in order.
        if (!chapters(media(source)).isEmpty()) {
            double at = 0.0;
            for (const auto &[from, until] : chapters(file)) {
                QVERIFY(std::abs(from - at) < 0.05 && until > from);
                at = until;
            }
            QVERIFY(std::abs(at - (picture.end - picture.start)) < 0.05);
        }
        // Every stream kept but those the plan reports left out.
        QCOMPARE(streamKinds(file).size() + cut.notes.size(), streamKinds(media(source)).size());
    }

    // Cancelled at any point, the cut stops and says so: in the edges (the
    // head here, the reference and the tail on their own thread), in the
    // writing and in the check.
    void cancelStopsTheCut()
    {
        const ExactCutPlan cut = plan(QStringLiteral("mx-h264.mp4"), {1.3, 4.7}, "cut.mp4");
        for (const int after : {0, 60, 260, 500}) {
            std::atomic<int> asked{0};
            const ExactOutcome outcome = runExactCut(
                cut.job, mediaPath("mx-h264.mp4"),
                m_dir.filePath(QStringLiteral("cancelled%1.mp4").arg(after)).toStdString(), {},
                [&] { return ++asked > after; });
            QVERIFY2(outcome.cancelled, outcome.failure.c_str());
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

QTEST_GUILESS_MAIN(ExactCutTest)
#include "test_exactcut.moc"
