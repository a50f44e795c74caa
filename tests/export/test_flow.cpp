#include "export/FFmpegRunner.h"
#include "export/Utf8Chunks.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <unistd.h>

using namespace trimora;

// What one run delivered, in order; "status" entries mark the status line.
struct RunRecord
{
    QStringList events;
    QString output;
    QString status;
    int statusCount = 0;
    bool offMainThread = false;

    bool finished() const { return statusCount > 0; }
};

using Verifier = std::function<QString(const QString &written)>;

inline void startRecordedRun(RunRecord &record, const QStringList &searchPaths,
                             Verifier verify = {})
{
    ToolRun job;
    job.arguments = [](const QString &) {
        return QStringList{QStringLiteral("-ss"), QStringLiteral("2.000"), QStringLiteral("-i"),
                           QStringLiteral("/my in.mp4"), QStringLiteral("/out.mp4")};
    };
    job.verify = std::move(verify);
    run(
        std::move(job),
        [&record](const QString &chunk) {
            record.offMainThread |= QThread::currentThread() != qApp->thread();
            record.events << QStringLiteral("chunk");
            record.output += chunk;
        },
        [&record](const ExportOutcome &outcome, const QString &) {
            record.offMainThread |= QThread::currentThread() != qApp->thread();
            record.events << QStringLiteral("status");
            record.status = outcome.statusLine();
            ++record.statusCount;
        },
        searchPaths);
}

// The child process runner and the export operation's state and log rules,
// with stand-in tools.
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
        model.setInPointValue(0.2);
        model.setOutPointValue(0.95);
        model.setOutputPath(m_dir.path() + QLatin1Char('/') + outputName);
    }

    static bool finish(VideoEditorViewModel &model)
    {
        return waitFor([&] { return !model.isProcessing() && noChildProcesses(); }, 20000);
    }

    // Runs a stand-in (none for an empty body) to its end and waits until no
    // delivery can follow.
    RunRecord runStandIn(const QByteArray &body, Verifier verify = {})
    {
        const QString path =
            body.isEmpty()
                ? m_dir.filePath(QStringLiteral("nowhere/ffmpeg"))
                : writeStandIn(m_dir.path(), QStringLiteral("ffmpeg%1").arg(++m_counter), body);
        RunRecord record;
        startRecordedRun(record, {path}, std::move(verify));
        waitFor([&] { return record.finished(); }, 20000);
        QTest::qWait(50);
        return record;
    }

private Q_SLOTS:
    // Looked up as a Linux program looks up another: PATH in order, then
    // /usr/bin and /usr/local/bin; empty and relative entries never count.
    void searchFollowsThePathThenTheSystemFolders_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<QString>("found");
        const QString usrBin = QStringLiteral("/usr/bin/ffmpeg");
        const QString local = QStringLiteral("/usr/local/bin/ffmpeg");
        const QString snap = QStringLiteral("/snap/bin/ffmpeg");
        const QString home = QStringLiteral("/home/u/.local/bin/ffmpeg");
        QTest::newRow("snap") << "/home/u/bin:/snap/bin" << QStringList{snap, usrBin} << snap;
        QTest::newRow("first in PATH wins")
            << "/home/u/.local/bin:/snap/bin" << QStringList{snap, home} << home;
        QTest::newRow("system folders after PATH")
            << "/opt/x" << QStringList{local, usrBin} << usrBin;
        QTest::newRow("no PATH at all") << "" << QStringList{local} << local;
        QTest::newRow("relative and empty entries")
            << ":bin:."
            << QStringList{QDir::current().filePath(QStringLiteral("bin/ffmpeg")),
                           QDir::current().filePath(QStringLiteral("ffmpeg")),
                           QStringLiteral("ffmpeg")}
            << QString();
        QTest::newRow("nowhere") << "/a:/b" << QStringList{} << QString();
    }

    void searchFollowsThePathThenTheSystemFolders()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, programs);
        QFETCH(QString, found);
        const auto result = findFFmpeg(ffmpegLocations(path),
                                       [&](const QString &p) { return programs.contains(p); });
        QCOMPARE(result.value_or(QString()), found);
        // The real test: a file that cannot be run is no program.
        const QString plain = writeStandIn(m_dir.path(), QStringLiteral("plain"), "exit 0", false);
        QVERIFY(!isProgram(plain) && !isProgram(m_dir.path()));
        QVERIFY(isProgram(writeStandIn(m_dir.path(), QStringLiteral("prog"), "exit 0")));
    }

    void chunksArriveLiveInOrderBeforeStatus()
    {
        // The second line is written only after the test has seen the first:
        // a runner that collected the output until exit would hang here.
        const QString go = m_dir.path() + QStringLiteral("/go");
        const QString path = writeStandIn(
            m_dir.path(), QStringLiteral("live"),
            QStringLiteral("printf 'one\\n' >&2\n"
                           "i=0; while [ ! -e '%1' ] && [ $i -lt 200 ]; do sleep 0.05; "
                           "i=$((i+1)); done\n"
                           "printf 'two\\n' >&2; sleep 0.1; printf 'three\\r' >&2\n"
                           "printf 'last words' >&2; exit 0")
                .arg(go)
                .toUtf8());
        RunRecord record;
        startRecordedRun(record, {path});
        QVERIFY(waitFor([&] { return record.output == QStringLiteral("one\n"); }, 10000));
        QVERIFY(!record.finished());
        QFile(go).open(QIODevice::WriteOnly);
        QVERIFY(waitFor([&] { return record.finished(); }, 20000));
        QTest::qWait(100);
        QCOMPARE(record.output, QStringLiteral("one\ntwo\nthree\rlast words"));
        QCOMPARE(record.status, QStringLiteral("✅ Completed successfully"));
        QCOMPARE(record.statusCount, 1);
        QCOMPARE(record.events.last(), QStringLiteral("status"));
        QVERIFY(record.events.count(QStringLiteral("chunk")) >= 2);
        QVERIFY(!record.offMainThread);
    }

    // Only standard error is shown, as it comes; the status line comes once,
    // last. An empty body: no program at all.
    void runOutcomes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("status"); // ends in ": ": the reason follows
        const auto row = [](const char *tag, const QByteArray &body, const char *output,
                            const QString &status = QStringLiteral("✅ Completed successfully")) {
            QTest::newRow(tag) << body << QString::fromUtf8(output) << status;
        };
        row("chunk just before exit", "printf 'bye' >&2; exit 0", "bye");
        row("standard output never arrives", "echo on-stdout; echo on-stderr >&2; echo more",
            "on-stderr\n");
        row("arguments unchanged", "for a in \"$@\"; do printf '[%s]' \"$a\" >&2; done",
            "[-ss][2.000][-i][/my in.mp4][/out.mp4]");
        row("exit 1", "echo broken >&2; exit 1", "broken\n",
            QStringLiteral("❌ Failed: ffmpeg exited with code 1"));
        row("killed by SIGSEGV", "echo crashing >&2; kill -SEGV $$; sleep 5", "crashing\n",
            QStringLiteral("❌ Failed: ffmpeg was stopped by signal 11"));
        // The tool's own words name a file-system error.
        row("disk full",
            "echo 'Error writing trailer of x.mp4: No space left on device' >&2; exit 1",
            "Error writing trailer of x.mp4: No space left on device\n",
            QStringLiteral("❌ Failed: no space left on device"));
        row("interpreter missing", "#!/nonexistent/sh", "",
            QStringLiteral("❌ Failed: could not launch ffmpeg: "));
        row("not found", "", "", ffmpegNotFoundMessage);
    }

    void runOutcomes()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, output);
        QFETCH(QString, status);
        const RunRecord record = runStandIn(body);
        QCOMPARE(record.output, output);
        if (status.endsWith(QLatin1String(": ")))
            QVERIFY2(record.status.startsWith(status) && record.status.size() > status.size(),
                     qPrintable(record.status));
        else
            QCOMPARE(record.status, status);
        QCOMPARE(record.statusCount, 1);
        QCOMPARE(record.events.last(), QStringLiteral("status"));
        QCOMPARE(record.events.contains(QStringLiteral("chunk")), !output.isEmpty());
    }

    // Exit status 0 is confirmed by the check of the written file, on the
    // worker, before the status line; a failed run is not checked at all.
    void successIsVerified()
    {
        bool checkedOnMainThread = false;
        const auto failing = [&](const QString &) {
            checkedOnMainThread = QThread::currentThread() == qApp->thread();
            return QStringLiteral("the output holds no video frame");
        };
        RunRecord record = runStandIn("echo written >&2", failing);
        QCOMPARE(record.output, QStringLiteral("written\n"));
        QCOMPARE(record.status, QStringLiteral("❌ Failed: the output holds no video frame"));
        QVERIFY(!checkedOnMainThread);
        record = runStandIn("exit 0", [](const QString &) { return QString(); });
        QCOMPARE(record.status, QStringLiteral("✅ Completed successfully"));
        // A tool content with a file it could not finish (a full disk at the
        // trailer): its words name the reason rather than the check's.
        record =
            runStandIn("echo 'Error closing file x.mp4: No space left on device' >&2", failing);
        QCOMPARE(record.status, QStringLiteral("❌ Failed: no space left on device"));
        bool checked = false;
        record = runStandIn("exit 3",
                            [&](const QString &) { return checked = true, QStringLiteral("x"); });
        QCOMPARE(record.status, QStringLiteral("❌ Failed: ffmpeg exited with code 3"));
        QVERIFY(!checked);
    }

    void splitUtf8CharacterArrivesWhole()
    {
        // 日 (E6 97 A5) split after two bytes, é (C3 A9) after one, then a byte
        // that is never UTF-8 between two letters.
        const RunRecord record = runStandIn("printf '\\346\\227' >&2; sleep 0.3\n"
                                            "printf '\\245\\303' >&2; sleep 0.3\n"
                                            "printf '\\251 a\\377b' >&2");
        QCOMPARE(record.output, QStringLiteral("日é a\uFFFDb"));
    }

    void childRunsDetachedFromTheApplication()
    {
        // Own process group (a terminal's Ctrl-C stays with us), SIGPIPE
        // ignored (it survives writing to our pipe after we are gone), stdin
        // from /dev/null.
        const RunRecord record =
            runStandIn("set -- $(cut -d')' -f2 /proc/$$/stat); printf '%s %s\\n' $$ \"$3\" >&2\n"
                       "grep SigIgn /proc/$$/status >&2; readlink /proc/$$/fd/0 >&2");
        const QStringList lines = record.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const QStringList ids = lines[0].split(QLatin1Char(' '));
        QCOMPARE(ids.size(), 2);
        QCOMPARE(ids[0], ids[1]); // process group id is its own pid
        QVERIFY(ids[1].toLongLong() != static_cast<qint64>(getpgrp()));
        const quint64 ignored =
            lines[1].section(QLatin1Char('\t'), 1).trimmed().toULongLong(nullptr, 16);
        QVERIFY2(ignored & (quint64(1) << (SIGPIPE - 1)), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("/dev/null"));
    }

    void decoderJoinsAndReplaces()
    {
        Utf8ChunkDecoder decoder;
        QCOMPARE(decoder.decode("ab\xF0\x9F"), QStringLiteral("ab"));
        QCOMPARE(decoder.decode("\x98"), QString());
        QCOMPARE(decoder.decode("\x80!"), QStringLiteral("\U0001F600!"));
        // Continuation bytes with no lead are not held back.
        QCOMPARE(decoder.decode("x\x80"), QStringLiteral("x\uFFFD"));
        // A lead byte that cannot start a sequence is not held either.
        QCOMPARE(decoder.decode("\xFF"), QStringLiteral("\uFFFD"));
        // A prefix that can never complete (surrogate range) is not held.
        QCOMPARE(incompleteUtf8TailLength("\xED\xA0"), 0);
        QCOMPARE(decoder.decode("\xE2\x82"), QString());
        const QString rest = decoder.finish(); // never completed: shown, not dropped
        QVERIFY(!rest.isEmpty() && rest.count(QChar(0xFFFD)) == rest.size());
        QCOMPARE(decoder.finish(), QString());
    }
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
        row("success", "printf 'TOOL\\n' >&2\n" + writes + "echo \"$ss $t\" >&2", 0.95,
            "TOOL\n0.200 0.750\n\n✅ Completed successfully");
        row("exit 1", "echo bad input >&2; exit 1", 0.95,
            "bad input\n\n❌ Failed: ffmpeg exited with code 1");
        row("cannot launch", "#!/nonexistent/sh", 0.95, "❌ Failed: could not launch ffmpeg: ");
        // Nothing to cut: the tool is not run.
        row("empty range", writes + "echo ran >&2", 0.2, "❌ Failed: the marked range is empty");
        // The tool says it succeeded but wrote no movie, or too little of one.
        row("unreadable output", standInArguments + "printf 'x' > \"$out\"; echo done >&2", 0.95,
            "done\n\n❌ Failed: the output cannot be read");
        row("short output", writes, 3.5, "❌ Failed: the cut holds 1.00 s of 3.30 s");
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
        // A refused empty range is forgotten once the marks move.
        if (log.endsWith(QLatin1String("the marked range is empty"))) {
            model.setOutPointValue(out + 0.5);
            QCOMPARE(model.logOutput(), QString());
        }
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
        const QString input = media(QStringLiteral("clip1s.mp4"));
        auto model = std::make_unique<VideoEditorViewModel>();
        // It talks on after the main thread has stopped listening.
        useStandIn(*model, standInArguments +
                               "echo start >&2; sleep 1; cp \"$in\" \"$out\"\n"
                               "for i in 1 2 3 4 5; do echo $i >&2; sleep 0.05; done");
        model->setSourceURL(QUrl::fromLocalFile(input));
        model->setOutputPath(m_dir.path() + QStringLiteral("/survivor.mp4"));
        model->exportCut();
        QTest::qWait(200);
        model.reset();
        waitForRunningTools();
        QFile in(input), out(m_dir.path() + QStringLiteral("/survivor.mp4"));
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), in.readAll());
    }
};

QTEST_MAIN(FlowTest)
#include "test_flow.moc"
