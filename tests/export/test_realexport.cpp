#include "export/FFmpegRunner.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

// Cuts of a real movie by the real ffmpeg (25 fps, keyframe every 2 s,
// B-frames): the picture must start at the In point, in step with the sound.
class RealExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QString capture(const QString &program, const QStringList &args)
    {
        QProcess process;
        process.start(program, args);
        process.waitForFinished(60000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // One entry per frame or packet: "<pts> <md5>" of stream `stream`.
    static QStringList md5Lines(const QString &file, const QString &stream, bool copy,
                                QStringList *ptsOut = nullptr)
    {
        QStringList args{"-v", "error", "-i", file, "-map", "0:" + stream};
        if (copy)
            args << "-c"
                 << "copy";
        args << "-f"
             << "framemd5"
             << "-";
        QStringList hashes;
        for (const QString &line : capture("ffmpeg", args).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('#'))
                continue;
            const QStringList fields = line.split(',');
            hashes << fields.value(5).trimmed(); // side data may follow
            if (ptsOut)
                *ptsOut << fields[2].trimmed();
        }
        return hashes;
    }

    QString exportCut(VideoEditorViewModel &model, double in, double out, const QString &name)
    {
        model.setInPointValue(in);
        model.setOutPointValue(out);
        model.setOutputPath(m_dir.path() + QLatin1Char('/') + name);
        model.exportCut();
        if (!waitFor([&] { return !model.isProcessing(); }, 60000))
            return {};
        return model.outputPath();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!findFFmpeg())
            QSKIP("ffmpeg is not installed at any of its fixed paths");
    }

    void cutStartsAtInPoint_data()
    {
        QTest::addColumn<double>("in");
        QTest::addColumn<double>("out");
        QTest::addColumn<int>("firstFrame"); // source frame index at or after In (25 fps)
        QTest::newRow("on 2.0 keyframe") << 2.0 << 5.0 << 50;
        QTest::newRow("3.3 between keyframes") << 3.3 << 5.3 << 83;
    }

    void cutStartsAtInPoint()
    {
        QFETCH(double, in);
        QFETCH(double, out);
        QFETCH(int, firstFrame);
        const QString source = media("export25.mp4");
        VideoEditorViewModel model;
        model.setSourceURL(QUrl::fromLocalFile(source));
        const QString output = exportCut(model, in, out, QStringLiteral("cut_%1.mp4").arg(in));
        QVERIFY(model.logOutput().endsWith(QStringLiteral("\n✅ Completed successfully")));
        QVERIFY(model.logOutput().contains(QStringLiteral("ffmpeg version")));

        // The first picture shown is the source's first picture at or after In.
        QStringList sourcePts;
        const QStringList sourceFrames = md5Lines(source, "v", false, &sourcePts);
        const QStringList outputFrames = md5Lines(output, "v", false);
        QVERIFY(sourceFrames.size() > firstFrame);
        QCOMPARE(sourcePts[firstFrame], QString::number(firstFrame));
        QVERIFY(!outputFrames.isEmpty());
        QCOMPARE(outputFrames.first(), sourceFrames[firstFrame]);
        const int expectedCount = int(std::ceil((out - in) * 25 - 1e-9));
        QVERIFY2(std::abs(outputFrames.size() - expectedCount) <= 3,
                 qPrintable(QString::number(outputFrames.size())));

        // Both streams start at 0, within one frame.
        const QStringList streams = capture("ffprobe", {"-v", "error", "-show_entries",
                                                        "stream=codec_type,codec_name,"
                                                        "start_time",
                                                        "-of", "csv=p=0", output})
                                        .split('\n', Qt::SkipEmptyParts);
        const QStringList sourceStreams =
            capture("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,codec_name",
                                "-of", "csv=p=0", source})
                .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(streams.size(), 2);
        for (const QString &stream : streams) {
            const QStringList fields = stream.split(',');
            QVERIFY2(std::abs(fields[2].toDouble()) < 0.04, qPrintable(stream));
            QVERIFY(sourceStreams.contains(fields[0] + ',' + fields[1]));
        }

        // Stream copy: every packet is a source packet, in an unbroken run.
        for (const QString stream : {"v", "a"}) {
            const QStringList sourcePackets = md5Lines(source, stream, true);
            const QStringList outputPackets = md5Lines(output, stream, true);
            QVERIFY(!outputPackets.isEmpty());
            const qsizetype at = sourcePackets.indexOf(outputPackets.first());
            QVERIFY(at >= 0);
            QCOMPARE(sourcePackets.mid(at, outputPackets.size()), outputPackets);
        }
    }

    void secondExportWritesNextName()
    {
        VideoEditorViewModel model;
        model.setSourceURL(QUrl::fromLocalFile(media("export25.mp4")));
        exportCut(model, 1.0, 2.0, QStringLiteral("again.mp4"));
        QVERIFY(!model.logOutput().contains(QStringLiteral("Output: ")));
        exportCut(model, 1.0, 2.0, QStringLiteral("again.mp4"));
        QVERIFY(model.logOutput().endsWith(
            QStringLiteral("\nOutput: again_1.mp4\n✅ Completed successfully")));
        QVERIFY(QFileInfo(m_dir.path() + QStringLiteral("/again_1.mp4")).size() > 1000);
        QCOMPARE(model.outputPath(), m_dir.path() + QStringLiteral("/again.mp4"));
    }
};

QTEST_MAIN(RealExportTest)
#include "test_realexport.moc"
