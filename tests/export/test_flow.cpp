#include "export/FFmpegRunner.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace trimora;

// The export operation's state and log rules, with stand-in tools.
class FlowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    void useStandIn(VideoEditorViewModel &model, const QByteArray &body)
    {
        model.ffmpegLocationsForTesting = QStringList{
            writeStandIn(m_dir.path(), QStringLiteral("tool%1").arg(++m_counter), body)};
    }

    void prepare(VideoEditorViewModel &model, const QString &outputName)
    {
        model.setSourceURL(QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/in.mp4")));
        model.setInPointValue(1.0);
        model.setOutPointValue(3.5);
        model.setOutputPath(m_dir.path() + QLatin1Char('/') + outputName);
    }

    static bool finish(VideoEditorViewModel &model)
    {
        return waitFor([&] { return !model.isProcessing() && noChildProcesses(); }, 20000);
    }

private Q_SLOTS:
    void nothingToExportChangesNothing()
    {
        VideoEditorViewModel model;
        useStandIn(model, "exit 0");
        model.setLogOutput(QStringLiteral("previous"));
        QSignalSpy processing(&model, &VideoEditorViewModel::isProcessingChanged);
        QSignalSpy log(&model, &VideoEditorViewModel::logOutputChanged);
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/in.mp4")));
        model.exportCut(); // empty path
        model.setSourceURL(QUrl());
        model.setOutputPath(QStringLiteral("/tmp/x.mp4"));
        model.exportCut(); // no source
        QTest::qWait(100);
        QCOMPARE(processing.count(), 0);
        QCOMPARE(log.count(), 0);
        QCOMPARE(model.logOutput(), QStringLiteral("previous"));
    }

    // The old log goes at once; the tool's own lines come first, then the
    // status; the busy flag clears whatever the outcome.
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("tool");
        QTest::addColumn<double>("out");
        QTest::addColumn<QString>("log"); // ends in ": ": the reason follows
        const auto row = [](const char *tag, const QByteArray &tool, double out, const char *log) {
            QTest::newRow(tag) << tool << out << QString::fromUtf8(log);
        };
        const QByteArray writes = standInWrites(QStringLiteral("clip1s.mp4"));
        row("success", "printf 'TOOL\\n' >&2\n" + writes + "echo \"$ss $t\" >&2", 3.5,
            "TOOL\n1.000 2.500\n\n✅ Completed successfully");
        row("exit 1", "echo bad input >&2; exit 1", 3.5, "bad input\n\n❌ Failed (exit code: 1)");
        row("cannot launch", "#!/nonexistent/sh", 3.5, "❌ Could not launch ffmpeg: ");
        // Nothing to cut: the tool is not run.
        row("empty range", writes + "echo ran >&2", 1.0, "❌ Failed: the marked range is empty");
        // The tool says it succeeded but wrote no movie.
        row("unreadable output", standInArguments + "printf 'x' > \"$out\"; echo done >&2", 3.5,
            "done\n\n❌ Failed: the output cannot be read");
    }

    void outcomes()
    {
        QFETCH(QByteArray, tool);
        QFETCH(double, out);
        QFETCH(QString, log);
        VideoEditorViewModel model;
        useStandIn(model, tool);
        prepare(model, QStringLiteral("out%1.mp4").arg(m_counter));
        model.setOutPointValue(out);
        model.setLogOutput(QStringLiteral("old export"));
        QSignalSpy processing(&model, &VideoEditorViewModel::isProcessingChanged);
        model.exportCut();
        QVERIFY(model.isProcessing());
        QCOMPARE(model.logOutput(), QString());
        QVERIFY(finish(model));
        QCOMPARE(processing.count(), 2);
        if (log.endsWith(QLatin1String(": ")))
            QVERIFY2(model.logOutput().startsWith(log) && model.logOutput().size() > log.size(),
                     qPrintable(model.logOutput()));
        else
            QCOMPARE(model.logOutput(), log);
        if (log.endsWith(QLatin1String("successfully")))
            QVERIFY(QFile::exists(model.outputPath()));
    }

    // After a failed run the next export starts: here it finds no tool, and a
    // taken name puts the line naming the free one first.
    void exportsAgainAfterFailures()
    {
        VideoEditorViewModel model;
        prepare(model, QStringLiteral("taken.mp4"));
        useStandIn(model, "echo bad input >&2; exit 1");
        model.exportCut();
        QVERIFY(finish(model));
        model.ffmpegLocationsForTesting = QStringList{m_dir.path() + QStringLiteral("/none")};
        model.exportCut();
        QVERIFY(!model.isProcessing());
        QCOMPARE(model.logOutput(), ffmpegNotFoundMessage);
        QFile(model.outputPath()).open(QIODevice::WriteOnly);
        model.exportCut();
        QCOMPARE(model.logOutput(),
                 QStringLiteral("Output: taken_1.mp4\n") + ffmpegNotFoundMessage);
    }

    // An export asked before the movie's keyframes are read reads them for
    // itself: loading another movie meanwhile does not take them away.
    void waitingExportCutsItsOwnMovie()
    {
        VideoEditorViewModel model;
        useStandIn(model, standInArguments + "cp \"$in\" \"$out\"; echo \"$ss $t\" >&2");
        model.setSourceURL(QUrl::fromLocalFile(media(QStringLiteral("clip1s.mp4"))));
        model.setOutPointValue(0.5);
        model.setOutputPath(m_dir.path() + QStringLiteral("/own.mp4"));
        model.exportCut();
        QVERIFY(model.isProcessing());
        model.setSourceURL(QUrl::fromLocalFile(media(QStringLiteral("movie.mp4"))));
        model.startCutSourceRead(model.sourceURL());
        QVERIFY(finish(model));
        QVERIFY2(model.logOutput().endsWith(QStringLiteral("✅ Completed successfully")),
                 qPrintable(model.logOutput()));
        QCOMPARE(QFileInfo(m_dir.path() + QStringLiteral("/own.mp4")).size(),
                 QFileInfo(media(QStringLiteral("clip1s.mp4"))).size());
    }

    void pathEditedDuringExportIsComparedAtTheEnd()
    {
        VideoEditorViewModel model;
        useStandIn(model, "sleep 0.5\n" + standInWrites(QStringLiteral("clip1s.mp4")));
        prepare(model, QStringLiteral("edit.mp4"));
        QFile(model.outputPath()).open(QIODevice::WriteOnly);
        model.exportCut();
        // The user types the very name the export picked: nothing to report.
        model.setOutputPath(m_dir.path() + QStringLiteral("/edit_1.mp4"));
        QVERIFY(finish(model));
        QCOMPARE(model.logOutput(), QStringLiteral("✅ Completed successfully"));
    }

    void relativePathIsNotReportedAsRenamed()
    {
        const QString saved = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        VideoEditorViewModel model;
        useStandIn(model, standInWrites(QStringLiteral("clip1s.mp4")));
        prepare(model, QString());
        model.setOutputPath(QStringLiteral("relative.mp4"));
        model.exportCut();
        const bool done = finish(model);
        QDir::setCurrent(saved);
        QVERIFY(done);
        QCOMPARE(model.logOutput(), QStringLiteral("✅ Completed successfully"));
        QVERIFY(QFile::exists(m_dir.path() + QStringLiteral("/relative.mp4")));
    }

    void closingTheModelLeavesTheExportRunning()
    {
        const QString input =
            writeStandIn(m_dir.path(), QStringLiteral("source.bin"), QByteArray(200000, 'v'));
        auto model = std::make_unique<VideoEditorViewModel>();
        useStandIn(*model, standInArguments + "echo start >&2; sleep 1; cp \"$in\" \"$out.part\"; "
                                              "mv \"$out.part\" \"$out\"; echo done >&2");
        model->setSourceURL(QUrl::fromLocalFile(input));
        model->setOutputPath(m_dir.path() + QStringLiteral("/survivor.bin"));
        model->exportCut();
        QTest::qWait(200);
        model.reset();
        QVERIFY(waitFor([] { return noChildProcesses(); }, 20000));
        QFile in(input), out(m_dir.path() + QStringLiteral("/survivor.bin"));
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), in.readAll());
    }
};

QTEST_MAIN(FlowTest)
#include "test_flow.moc"
