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

    void successLog()
    {
        VideoEditorViewModel model;
        useStandIn(model, "printf 'TOOL\\n' >&2\n" + standInWrites(QStringLiteral("clip1s.mp4")) +
                              "echo \"$ss $t\" >&2");
        prepare(model, QStringLiteral("fresh.mp4"));
        model.setLogOutput(QStringLiteral("old export"));
        QSignalSpy processing(&model, &VideoEditorViewModel::isProcessingChanged);
        model.exportCut();
        QVERIFY(model.isProcessing());
        QCOMPARE(model.logOutput(), QString()); // the old log is gone at once
        QVERIFY(finish(model));
        QCOMPARE(processing.count(), 2);
        QCOMPARE(model.logOutput(),
                 QStringLiteral("TOOL\n1.000 2.500\n\n✅ Completed successfully"));
        QVERIFY(QFile::exists(m_dir.path() + QStringLiteral("/fresh.mp4")));
    }

    void failuresClearBusyFlag()
    {
        VideoEditorViewModel model;
        prepare(model, QStringLiteral("fail.mp4"));

        useStandIn(model, "echo bad input >&2; exit 1");
        model.exportCut();
        QVERIFY(finish(model));
        QCOMPARE(model.logOutput(), QStringLiteral("bad input\n\n❌ Failed (exit code: 1)"));

        model.ffmpegLocationsForTesting =
            QStringList{writeStandIn(m_dir.path(), QStringLiteral("broken"), "#!/nonexistent/sh")};
        model.exportCut();
        QVERIFY(finish(model));
        QVERIFY(model.logOutput().startsWith(QStringLiteral("❌ Could not launch ffmpeg: ")));

        model.ffmpegLocationsForTesting = QStringList{m_dir.path() + QStringLiteral("/none")};
        model.exportCut();
        QVERIFY(!model.isProcessing());
        QCOMPARE(model.logOutput(), ffmpegNotFoundMessage);

        // The name was taken: the line naming the free one comes first.
        QFile(model.outputPath()).open(QIODevice::WriteOnly);
        model.exportCut();
        QCOMPARE(model.logOutput(), QStringLiteral("Output: fail_1.mp4\n") + ffmpegNotFoundMessage);
    }

    // Nothing to cut: the tool is not run and nothing is written.
    void emptyRangeRunsNothing()
    {
        VideoEditorViewModel model;
        useStandIn(model, standInWrites(QStringLiteral("clip1s.mp4")) + "echo ran >&2");
        prepare(model, QStringLiteral("zero.mp4"));
        model.setOutPointValue(1.0);
        model.exportCut();
        QVERIFY(finish(model));
        QCOMPARE(model.logOutput(), QStringLiteral("❌ Failed: the marked range is empty"));
        QVERIFY(!QFile::exists(model.outputPath()));
    }

    // The tool says it succeeded but wrote no movie.
    void unreadableOutputIsAFailure()
    {
        VideoEditorViewModel model;
        useStandIn(model, standInArguments + "printf 'x' > \"$out\"; echo done >&2");
        prepare(model, QStringLiteral("junk.mp4"));
        model.exportCut();
        QVERIFY(finish(model));
        QCOMPARE(model.logOutput(), QStringLiteral("done\n\n❌ Failed: the output cannot be read"));
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
