// What the editor must survive: awkward inputs, work cut short, a
// misbehaving ffmpeg. A corpus of awkward inputs, built at test
// time, each loaded into a window of its own: it either loads with its real
// length (and can be played, scanned, read and cut) or its load is abandoned
// silently; nothing may hang, crash, or write anywhere but the chosen output.
// A window closed while its background work runs: the workers find the model
// gone (AddressSanitizer reports any write into it), and a started export
// still writes its whole output. The source movie deleted or cut short while
// its duration loads, while it plays and is scanned, and while it is exported.
#include "FaultSupport.h"
#include "media/Player.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace trimora;

namespace {

constexpr double abandoned = -1.0;

enum class Damage { Delete, Truncate };

void damage(const QString &path, Damage how)
{
    const QByteArray name = QFile::encodeName(path);
    // In place, as another program would: open readers keep their descriptor.
    if (how == Damage::Delete)
        QVERIFY(::unlink(name.constData()) == 0);
    else
        QVERIFY(::truncate(name.constData(), 20000) == 0);
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class SurvivalTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_corpus;
    QString m_outputs;
    TrimoraApp m_app;
    int m_counter = 0;

    QString freshCopy(const QString &fixture)
    {
        const QString path = m_dir.filePath(
            QStringLiteral("source%1.%2").arg(++m_counter).arg(QFileInfo(fixture).suffix()));
        return QFile::copy(media(fixture), path) ? path : QString();
    }

    AppWindow *openWith(const QString &path, bool waitForLoad)
    {
        AppWindow *window = m_app.openWindow();
        window->content()->openChosenFile(QUrl::fromLocalFile(path));
        if (waitForLoad && !waitFor([&] { return modelOf(window)->isLoaded(); }, 20000))
            return nullptr;
        return window;
    }

    // Lets late deliveries of the dead model's workers arrive.
    static void drain() { QTest::qWait(800); }

    QString copyOf(const QString &fixture, const QString &name)
    {
        const QString path = m_corpus + QLatin1Char('/') + name;
        return QFile::copy(media(fixture), path) ? path : QString();
    }

    QString writeBytes(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_corpus + QLatin1Char('/') + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // Plays, seeks across, reads the waveform at, scans and cuts a loaded movie.
    void exercise(VideoEditorViewModel *model, const QString &outputName)
    {
        const double d = model->videoDuration();
        model->togglePlayPause();
        for (double f : {0.9, 0.1, 0.5, 1.0, 0.0}) {
            model->seek(d * f);
            model->updateWaveformIfNeeded(d * f);
        }
        model->startWaveformRead(model->sourceURL(), d / 2, d);
        model->startScan();
        QTest::qWait(300);
        model->cancelScan();
        if (model->isPlaying())
            model->togglePlayPause();
        QVERIFY(waitFor([&] { return !model->isScanning(); }, 10000));

        model->setInPointValue(d * 0.25);
        model->setOutPointValue(qMin(d * 0.25 + 1.0, d));
        model->setOutputPath(m_outputs + QLatin1Char('/') + outputName);
        model->exportCut();
        QVERIFY(exportFinished(model));
        QVERIFY2(
            lastLine(model->logOutput()).startsWith(QStringLiteral("✅ Completed successfully")),
            qPrintable(model->logOutput()));
        QVERIFY(probedDuration(model->outputPath()) > 0.0);
    }

    // The ffmpeg program misbehaving, seen through a window with a loaded
    // movie (opened by the first of these tests, after the others): every
    // outcome ends the log with its status line, the export can be started
    // again, and the window keeps handling events while the tool talks.
    QPointer<AppWindow> m_window;

    VideoEditorViewModel *model()
    {
        if (!m_window) {
            m_window = m_app.openWindow();
            m_window->content()->openChosenFile(QUrl::fromLocalFile(media("clip1s.mp4")));
            waitFor([&] { return modelOf(m_window)->isLoaded(); }, 20000);
        }
        return modelOf(m_window);
    }

    // Runs one export with the given tool locations; returns the event loop's
    // worst stall while it ran, or -1 when the movie did not load or the
    // export did not end.
    qint64 exportWith(const QStringList &locations, const QString &outputDir)
    {
        if (!model()->isLoaded())
            return -1;
        model()->ffmpegLocationsForTesting = locations;
        model()->setOutputPath(outputDir + QStringLiteral("/cut%1.mp4").arg(++m_counter));
        LatencyProbe probe;
        model()->exportCut();
        const bool finished = exportFinished(model(), 120000);
        return finished ? probe.worstMs() : -1;
    }

    QString standIn(const QByteArray &body, bool executable = true)
    {
        return writeStandIn(m_dir.path(), QStringLiteral("tool%1").arg(++m_counter), body,
                            executable);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_corpus = m_dir.filePath(QStringLiteral("corpus"));
        m_outputs = m_dir.filePath(QStringLiteral("outputs"));
        QVERIFY(QDir().mkpath(m_corpus) && QDir().mkpath(m_outputs));
        // A working folder of our own, where a stray relative write would show.
        const QString cwd = m_dir.filePath(QStringLiteral("cwd"));
        QVERIFY(QDir().mkpath(cwd) && QDir::setCurrent(cwd));
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    void cleanupTestCase()
    {
        if (m_window)
            QVERIFY(closeAndWait(m_window));
        // Let the temporary folder be removed even where permissions bind.
        for (const QString &entry : QDir(m_corpus).entryList(QDir::Files))
            QFile::setPermissions(m_corpus + QLatin1Char('/') + entry,
                                  QFile::ReadOwner | QFile::WriteOwner);
    }

    void cleanup()
    {
        QVERIFY(waitFor([] { return noChildProcesses(); }, 60000));
    }

    void corpus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("duration");

        QTest::newRow("zero bytes") << writeBytes(QStringLiteral("zero.mp4"), {}) << abandoned;
        QTest::newRow("truncated")
            << copyOf(QStringLiteral("truncated.mp4"), QStringLiteral("truncated.mp4"))
            << abandoned;
        QByteArray noise(256 * 1024, Qt::Uninitialized);
        QRandomGenerator random(6);
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QTest::newRow("random bytes")
            << writeBytes(QStringLiteral("noise.mov"), noise) << abandoned;
        const QString folder = m_corpus + QStringLiteral("/folder.mp4");
        QDir().mkpath(folder);
        QTest::newRow("directory") << folder << abandoned;
        QTest::newRow("a JPEG picture")
            << copyOf(QStringLiteral("st-still.jpg"), QStringLiteral("still.jpg")) << abandoned;
        const QString fifo = m_corpus + QStringLiteral("/pipe.mp4");
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        QTest::newRow("fifo") << fifo << abandoned;
        const QString locked = copyOf(QStringLiteral("clip1s.mp4"), QStringLiteral("locked.mp4"));
        QFile::setPermissions(locked, QFileDevice::Permissions());
        // Root reads it regardless.
        QTest::newRow("unreadable") << locked << (::geteuid() == 0 ? 1.0 : abandoned);

        QTest::newRow("audio only")
            << copyOf(QStringLiteral("audioonly.m4a"), QStringLiteral("audio.m4a")) << 3.0;
        QTest::newRow("video only")
            << copyOf(QStringLiteral("videoonly.mkv"), QStringLiteral("video.mkv")) << 3.0;
        QTest::newRow("ten hours")
            << copyOf(QStringLiteral("tenhours.mp4"), QStringLiteral("long.mp4")) << 36000.0;
        QTest::newRow("variable frame rate")
            << copyOf(QStringLiteral("vfr.mkv"), QStringLiteral("vfr.mkv")) << 4.0;
        QTest::newRow("rotated") << copyOf(QStringLiteral("rotated3s.mp4"),
                                           QStringLiteral("rotated.mp4"))
                                 << 3.0;
        QTest::newRow("start time 11.4 s")
            << copyOf(QStringLiteral("offset.ts"), QStringLiteral("offset.ts")) << 3.02;
        QTest::newRow("two audio tracks")
            << copyOf(QStringLiteral("twoaudio.mkv"), QStringLiteral("twoaudio.mkv")) << 3.02;
        // The header still promises 6 s; the movie is cut when the data ends.
        QTest::newRow("half a Matroska file")
            << copyOf(QStringLiteral("halfmovie.mkv"), QStringLiteral("half.mkv")) << 6.02;

        const QString clip = QStringLiteral("clip1s.mp4");
        QTest::newRow("spaces") << copyOf(clip, QStringLiteral("a movie  with spaces .mp4")) << 1.0;
        QTest::newRow("quotes") << copyOf(clip, QStringLiteral("it's \"quoted\" `x`.mp4")) << 1.0;
        QTest::newRow("newline") << copyOf(clip, QStringLiteral("two\nlines\r.mp4")) << 1.0;
        QTest::newRow("command substitution")
            << copyOf(clip, QStringLiteral("$(touch pwned) ; rm -rf x.mp4")) << 1.0;
        QTest::newRow("leading dash") << copyOf(clip, QStringLiteral("-y -i.mp4")) << 1.0;
        // Qt decodes file names as UTF-8: such a name cannot be opened through
        // it, whichever way it arrives, so the load is abandoned.
        const QByteArray raw = QFile::encodeName(m_corpus) + "/latin1 caf\xe9 \xff.mp4";
        QFile::copy(media(clip), QStringLiteral("%1/placeholder").arg(m_corpus));
        ::rename(QFile::encodeName(m_corpus + QStringLiteral("/placeholder")).constData(),
                 raw.constData());
        QTest::newRow("non-UTF-8 name") << QFile::decodeName(raw) << abandoned;
    }

    void corpus()
    {
        QFETCH(QString, path);
        QFETCH(double, duration);
        QVERIFY(!path.isEmpty());
        const Watchdog watchdog(QString::fromUtf8(QTest::currentDataTag()), 120);
        const QUrl url = QUrl::fromLocalFile(path);
        const QStringList corpusBefore = listing(m_corpus);
        const QStringList outputsBefore = listing(m_outputs);
        const QStringList cwdBefore = listing(QDir::currentPath());

        AppWindow *window = m_app.openWindow();
        VideoEditorViewModel *model = modelOf(window);
        QSignalSpy failed(model, &VideoEditorViewModel::loadFailed);
        window->content()->openChosenFile(url);
        const QString outputName = QFileInfo(path).fileName();
        if (duration == abandoned) {
            QVERIFY(failed.wait(20000));
            QVERIFY(!model->isLoaded());
            QCOMPARE(model->videoDuration(), 1.0);
            QVERIFY(model->logOutput().isEmpty());
            // The editor is up with another movie: it stays wholly on that one,
            // and scanning or reading the failed file ends quietly.
            QVERIFY(loadAndWait(*model, QStringLiteral("clip1s.mp4"), 20000));
            const double before = model->videoDuration();
            model->loadVideo(url);
            model->startScan();
            model->startWaveformRead(url, 0.5, before);
            model->seek(0.5);
            QVERIFY(failed.wait(20000));
            QVERIFY(waitFor([&] { return !model->isScanning(); }, 10000));
            QVERIFY(model->isLoaded());
            QCOMPARE(model->videoDuration(), before);
            QCOMPARE(model->outPoint(), before);
            QCOMPARE(model->sourceURL(), QUrl::fromLocalFile(media(QStringLiteral("clip1s.mp4"))));
        } else {
            QVERIFY(waitFor([&] { return model->isLoaded(); }, 20000));
            QVERIFY2(qAbs(model->videoDuration() - duration) < 0.05,
                     qPrintable(QString::number(model->videoDuration())));
            exercise(model, outputName);
        }
        QVERIFY(closeAndWait(window));

        QCOMPARE(listing(m_corpus), corpusBefore);
        QCOMPARE(listing(QDir::currentPath()), cwdBefore);
        QStringList outputsAfter = listing(m_outputs);
        if (duration != abandoned) {
            const QString written = m_outputs + QLatin1Char('/') + outputName;
            QCOMPARE(outputsAfter.size(), outputsBefore.size() + 1);
            QVERIFY(outputsAfter.removeIf([&](const QString &entry) {
                return entry.startsWith(written + QLatin1Char(' '));
            }) == 1);
        }
        QCOMPARE(outputsAfter, outputsBefore);
    }

    void closedWhileTheDurationLoads()
    {
        const Watchdog watchdog(QStringLiteral("close during load"), 60);
        for (const QString &name : {QStringLiteral("movie.mp4"), QStringLiteral("tenhours.mp4")}) {
            AppWindow *window = openWith(media(name), false);
            QVERIFY(closeAndWait(window));
        }
        drain();
        QVERIFY(m_app.windows().isEmpty());
    }

    void closedWhileTheWaveformReads()
    {
        const Watchdog watchdog(QStringLiteral("close during waveform read"), 60);
        AppWindow *window = openWith(media("movie.mp4"), true);
        QVERIFY(window);
        VideoEditorViewModel *model = modelOf(window);
        // Several reads in flight at once, the newest centred mid-movie.
        for (double centre : {2.0, 6.0, 9.0})
            model->startWaveformRead(model->sourceURL(), centre, model->videoDuration());
        QVERIFY(closeAndWait(window));
        drain();
    }

    void closedWhileScanning()
    {
        const Watchdog watchdog(QStringLiteral("close during scan"), 60);
        AppWindow *window = openWith(media("movie.mp4"), true);
        QVERIFY(window);
        modelOf(window)->startScan();
        QTest::qWait(300);
        QVERIFY(closeAndWait(window));
        drain();
    }

    void closedWhileExportingLeavesACompleteOutput()
    {
        const Watchdog watchdog(QStringLiteral("close during export"), 120);
        AppWindow *window = openWith(media("export25.mp4"), true);
        QVERIFY(window);
        VideoEditorViewModel *model = modelOf(window);
        const QString output = m_dir.filePath(QStringLiteral("closed.mp4"));
        model->setOutputPath(output);
        model->setInPointValue(2.0);
        model->setOutPointValue(10.0);
        model->exportCut();
        QVERIFY(model->isProcessing());
        QVERIFY(closeAndWait(window));
        QVERIFY(waitFor([] { return noChildProcesses(); }, 60000));
        drain();
        const double seconds = probedDuration(output);
        QVERIFY2(qAbs(seconds - 8.0) < 0.2, qPrintable(QString::number(seconds)));
    }

    // Everything at once, twice over, in two windows closed in turn.
    void closedWithAllWorkRunning()
    {
        const Watchdog watchdog(QStringLiteral("close with all work running"), 120);
        QList<QString> outputs;
        for (int i = 0; i < 2; ++i) {
            AppWindow *window = openWith(media("movie.mp4"), true);
            QVERIFY(window);
            VideoEditorViewModel *model = modelOf(window);
            outputs << m_dir.filePath(QStringLiteral("all%1.mp4").arg(i));
            model->setOutputPath(outputs.last());
            model->togglePlayPause();
            model->startScan();
            model->seek(7.0);
            model->startWaveformRead(model->sourceURL(), 7.0, model->videoDuration());
            model->exportCut();
            model->loadVideo(QUrl::fromLocalFile(media("clip1s.mp4")));
        }
        for (AppWindow *window : m_app.windows())
            QVERIFY(closeAndWait(window));
        QVERIFY(waitFor([] { return noChildProcesses(); }, 60000));
        drain();
        for (const QString &output : outputs) {
            const double seconds = probedDuration(output);
            QVERIFY2(qAbs(seconds - 12.5) < 0.2, qPrintable(QString::number(seconds)));
        }
    }

    void damagedWhileTheDurationLoads_data()
    {
        QTest::addColumn<Damage>("how");
        QTest::newRow("deleted") << Damage::Delete;
        QTest::newRow("truncated") << Damage::Truncate;
    }

    // Either the reader got there first and the movie loads with its full
    // length, or the load is abandoned; nothing in between.
    void damagedWhileTheDurationLoads()
    {
        QFETCH(Damage, how);
        const Watchdog watchdog(QString::fromLatin1(QTest::currentDataTag()), 60);
        const QString path = freshCopy(QStringLiteral("movie.mp4"));
        AppWindow *window = m_app.openWindow();
        VideoEditorViewModel *model = modelOf(window);
        model->loadVideo(QUrl::fromLocalFile(path));
        damage(path, how);
        QTest::qWait(1500);
        if (model->isLoaded())
            QVERIFY(qAbs(model->videoDuration() - 12.5) < 0.05);
        else
            QCOMPARE(model->videoDuration(), 1.0);
        model->togglePlayPause();
        model->seek(6.0);
        QTest::qWait(300);
        QVERIFY(closeAndWait(window));
    }

    void damagedWhilePlayingAndScanned_data() { damagedWhileTheDurationLoads_data(); }

    void damagedWhilePlayingAndScanned()
    {
        QFETCH(Damage, how);
        const Watchdog watchdog(QString::fromLatin1(QTest::currentDataTag()), 90);
        const QString path = freshCopy(QStringLiteral("movie.mp4"));
        AppWindow *window = openWith(path, true);
        QVERIFY(window);
        VideoEditorViewModel *model = modelOf(window);
        model->togglePlayPause();
        model->startScan();
        QTest::qWait(200);
        damage(path, how);
        // The scan and the waveform reads run into the damage; the player
        // keeps whatever it buffered. Seeks across the movie must not stall.
        LatencyProbe probe;
        for (double t : {11.0, 1.0, 9.5, 3.0, 12.4}) {
            model->seek(t);
            model->startWaveformRead(model->sourceURL(), t, model->videoDuration());
            QTest::qWait(150);
        }
        QVERIFY(waitFor([&] { return !model->isScanning(); }, 30000));
        QVERIFY2(probe.worstMs() < 500, qPrintable(QString::number(probe.worstMs())));
        QCOMPARE(model->videoDuration(), 12.5);
        for (double marker : model->blackWhiteFrames())
            QVERIFY(marker >= 0.0 && marker <= 12.5);
        QVERIFY(closeAndWait(window));
    }

    void damagedBeforeTheExportFailsIt_data() { damagedWhileTheDurationLoads_data(); }

    void damagedBeforeTheExportFailsIt()
    {
        QFETCH(Damage, how);
        const Watchdog watchdog(QString::fromLatin1(QTest::currentDataTag()), 90);
        const QString path = freshCopy(QStringLiteral("movie.mp4"));
        AppWindow *window = openWith(path, true);
        QVERIFY(window);
        VideoEditorViewModel *model = modelOf(window);
        damage(path, how);
        const QString output = m_dir.filePath(QStringLiteral("gone%1.mp4").arg(m_counter));
        model->setOutputPath(output);
        model->exportCut();
        QVERIFY(exportFinished(model));
        const QString log = model->logOutput();
        QVERIFY2(lastLine(log).startsWith(QStringLiteral("❌ Failed: ")), qPrintable(log));
        QVERIFY(!QFileInfo::exists(output));
        QVERIFY(closeAndWait(window));
    }

    void damagedDuringTheExport_data() { damagedWhileTheDurationLoads_data(); }

    // The tool may have read the source before the damage or not: the log
    // ends in one of the two status lines, and a success is a whole cut.
    void damagedDuringTheExport()
    {
        QFETCH(Damage, how);
        const Watchdog watchdog(QString::fromLatin1(QTest::currentDataTag()), 90);
        const QString path = freshCopy(QStringLiteral("export25.mp4"));
        AppWindow *window = openWith(path, true);
        QVERIFY(window);
        VideoEditorViewModel *model = modelOf(window);
        const QString output = m_dir.filePath(QStringLiteral("during%1.mp4").arg(m_counter));
        model->setOutputPath(output);
        model->exportCut();
        QTest::qWait(20);
        damage(path, how);
        QVERIFY(exportFinished(model));
        const QString status = lastLine(model->logOutput());
        if (status == QStringLiteral("✅ Completed successfully")) {
            // A deleted file lives on while the tool holds it open.
            const double seconds = probedDuration(output);
            QVERIFY(how == Damage::Delete ? qAbs(seconds - 12.5) < 0.2 : seconds >= 0.0);
        } else {
            QVERIFY2(status.startsWith(QStringLiteral("❌ Failed: ")), qPrintable(status));
            QVERIFY(!QFileInfo::exists(output));
        }
        QVERIFY(closeAndWait(window));
    }

    void outcomesEndInTheirStatusLine_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("logged");
        QTest::newRow("cannot start")
            << QByteArray("#!/nonexistent/sh") << true
            << QStringLiteral("❌ Failed: could not launch ffmpeg: ") << QString();
        QTest::newRow("exits non-zero")
            << QByteArray("echo 'Invalid data found' >&2; exit 69") << true
            << QStringLiteral("❌ Failed: ffmpeg exited with code 69")
            << QStringLiteral("Invalid data found");
        QTest::newRow("aborts after output without a line end")
            << QByteArray("printf 'frame=  12 fps=0.0\\r' >&2; kill -ABRT $$") << true
            << QStringLiteral("❌ Failed: ffmpeg was stopped by signal 6")
            << QStringLiteral("frame=  12 fps=0.0\r");
        QTest::newRow("invalid UTF-8")
            << standInWrites(QStringLiteral("clip1s.mp4")) +
                   QByteArray("printf 'before \\377\\376\\300 after\\n' >&2")
            << true << QStringLiteral("✅ Completed successfully") << QStringLiteral(" after\n");
    }

    void outcomesEndInTheirStatusLine()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, executable);
        QFETCH(QString, status);
        QFETCH(QString, logged);
        const Watchdog watchdog(QString::fromLatin1(QTest::currentDataTag()), 120);
        QVERIFY(exportWith({standIn(body, executable)}, m_dir.path()) >= 0);
        const QString log = model()->logOutput();
        QVERIFY2(lastLine(log).startsWith(status), qPrintable(log));
        QVERIFY2(log.contains(logged), qPrintable(log));
        QVERIFY(!model()->isProcessing());
        QVERIFY(m_window->isVisible());
    }

    void missingProgramSaysHowToInstall()
    {
        QVERIFY(exportWith({m_dir.filePath(QStringLiteral("nowhere/ffmpeg")),
                            m_dir.filePath(QStringLiteral("absent"))},
                           m_dir.path()) >= 0);
        QCOMPARE(model()->logOutput(), ffmpegNotFoundMessage);
        QVERIFY(!model()->isProcessing());
    }

    // A tool that floods its standard error must not freeze the window: the
    // pane takes 20 MB while the event loop never stalls for long.
    void outputBurstKeepsTheWindowResponsive_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("lines") << QByteArray(
            "head -c 20000000 /dev/zero | tr '\\0' 'x' | fold -w 99 >&2");
        // ffmpeg's progress report rewrites one line with carriage returns.
        QTest::newRow("progress line") << QByteArray(
            "head -c 20000000 /dev/zero | tr '\\0' 'x' | fold -w 99 | tr '\\n' '\\r' >&2");
        QTest::newRow("one line") << QByteArray("head -c 20000000 /dev/zero | tr '\\0' 'x' >&2");
    }

    void outputBurstKeepsTheWindowResponsive()
    {
        QFETCH(QByteArray, body);
        body.prepend(standInWrites(QStringLiteral("clip1s.mp4")));
        const Watchdog watchdog(QStringLiteral("20 MB burst"), 240);
        QElapsedTimer clock;
        clock.start();
        const qint64 worst = exportWith({standIn(body)}, m_dir.path());
        QVERIFY(worst >= 0);
        qInfo("20 MB of output in %lld ms; worst event loop stall %lld ms", clock.elapsed(), worst);
        const QString log = model()->logOutput();
        QVERIFY(log.size() >= 20000000);
        QCOMPARE(lastLine(log), QStringLiteral("✅ Completed successfully"));
        QVERIFY2(worst < 500, qPrintable(QStringLiteral("stalled %1 ms").arg(worst)));
        // The log is cleared by the next export: memory returns.
        QVERIFY(exportWith({standIn(standInWrites(QStringLiteral("clip1s.mp4")))}, m_dir.path()) >=
                0);
        QCOMPARE(model()->logOutput(), QStringLiteral("✅ Completed successfully"));
    }

    // Wherever the output cannot be written, the status line says why, and
    // the folder is left as it was: no output and no temporary, under any name.
    void unwritableFolderNamesTheReason_data()
    {
        // "missing", a plain folder (""), or the options of a tmpfs mounted there.
        QTest::addColumn<QByteArray>("mount");
        QTest::addColumn<QByteArray>("tool"); // a stand-in; empty: ffmpeg itself
        QTest::addColumn<QString>("reason");
        QTest::newRow("vanished folder") << QByteArray("missing") << QByteArray()
                                         << QStringLiteral("the folder %1 does not exist");
        QTest::newRow("read-only file system")
            << QByteArray("ro") << QByteArray() << QStringLiteral("read-only file system");
        QTest::newRow("full disk")
            << QByteArray("size=16k") << QByteArray() << QStringLiteral("no space left on device");
        QTest::newRow("tool killed while writing")
            << QByteArray()
            << standInArguments + "head -c 20000 '" + QFile::encodeName(media("clip1s.mp4")) +
                   "' > \"$out\"; kill -KILL $$"
            << QStringLiteral("ffmpeg was stopped by signal 9");
    }

    void unwritableFolderNamesTheReason()
    {
        QFETCH(QByteArray, mount);
        QFETCH(QByteArray, tool);
        QFETCH(QString, reason);
        const QString parent =
            m_dir.filePath(QStringLiteral("unwritable-%1").arg(QTest::currentDataTag()[0]));
        const QString folder = parent + QStringLiteral("/folder");
        QVERIFY(QDir().mkpath(parent));
        const bool mounted = mount != "missing" && !mount.isEmpty();
        if (mount != "missing")
            QVERIFY(QDir().mkpath(folder));
        if (mounted) {
            const unsigned long flags = mount == "ro" ? MS_RDONLY : 0;
            if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", flags,
                        flags ? nullptr : mount.constData()) != 0)
                QSKIP("no tmpfs can be mounted here (not root)");
        }
        const qint64 ran =
            exportWith(tool.isEmpty() ? ffmpegLocations() : QStringList{standIn(tool)}, folder);
        const QStringList after =
            QFileInfo::exists(folder)
                ? QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                : QStringList();
        if (mounted)
            ::umount(QFile::encodeName(folder).constData());
        QVERIFY(ran >= 0);
        QCOMPARE(lastLine(model()->logOutput()), QStringLiteral("❌ Failed: ") + reason.arg(folder));
        QCOMPARE(after, QStringList());
        QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 mount == "missing" ? QStringList() : QStringList{QStringLiteral("folder")});
    }
};

QTEST_MAIN(SurvivalTest)
#include "test_survival.moc"
