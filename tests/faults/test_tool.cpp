// The ffmpeg program misbehaving, seen through a window with a loaded movie:
// every outcome ends the log with its status line, the export can be started
// again, and the window keeps handling events while the tool talks.
#include "FaultSupport.h"
#include "media/Player.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <unistd.h>

using namespace trimora;

class ToolFaultsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TrimoraApp m_app;
    QPointer<AppWindow> m_window;
    int m_counter = 0;

    VideoEditorViewModel *model() const { return modelOf(m_window); }

    // Runs one export with the given tool locations; returns the event loop's
    // worst stall while it ran.
    qint64 exportWith(const QStringList &locations, const QString &outputDir)
    {
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
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
        m_window = m_app.openWindow();
        m_window->content()->openChosenFile(QUrl::fromLocalFile(media("clip1s.mp4")));
        QVERIFY(waitFor([&] { return model()->isLoaded(); }, 20000));
    }

    void cleanupTestCase()
    {
        if (m_window)
            QVERIFY(closeAndWait(m_window));
    }

    void outcomesEndInTheirStatusLine_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("logged");
        QTest::newRow("cannot start") << QByteArray("#!/nonexistent/sh") << true
                                      << QStringLiteral("❌ Could not launch ffmpeg: ") << QString();
        QTest::newRow("exits non-zero")
            << QByteArray("echo 'Invalid data found' >&2; exit 69") << true
            << QStringLiteral("❌ Failed (exit code: 69)") << QStringLiteral("Invalid data found");
        QTest::newRow("aborts after output without a line end")
            << QByteArray("printf 'frame=  12 fps=0.0\\r' >&2; kill -ABRT $$") << true
            << QStringLiteral("❌ Failed (exit code: 6)") << QStringLiteral("frame=  12 fps=0.0\r");
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

    void missingOutputFolderFails()
    {
        const QString folder = m_dir.filePath(QStringLiteral("no/such/folder"));
        QVERIFY(exportWith(ffmpegLocations(), folder) >= 0);
        const QString log = model()->logOutput();
        QVERIFY2(lastLine(log).startsWith(QStringLiteral("❌ Failed (exit code: ")),
                 qPrintable(log));
        QVERIFY(!QFileInfo::exists(folder));
    }

    void readOnlyOutputFolderFails()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString folder = m_dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(exportWith(ffmpegLocations(), folder) >= 0);
        const QString log = model()->logOutput();
        QVERIFY2(lastLine(log).startsWith(QStringLiteral("❌ Failed (exit code: ")),
                 qPrintable(log));
        QVERIFY(QDir(folder).isEmpty());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_MAIN(ToolFaultsTest)
#include "test_tool.moc"
