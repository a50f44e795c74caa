// Work cut short under the editor's feet. A window closed while its background
// work runs: the workers find the model gone (AddressSanitizer reports any
// write into it), and a started export still writes its whole output. The
// source movie deleted or cut short while its duration loads, while it plays
// and is scanned, and while it is exported.
#include "FaultSupport.h"
#include "media/Player.h"

#include <QTemporaryDir>

#include <unistd.h>

using namespace trimora;

namespace {

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

class ClosingTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    void cleanup()
    {
        QVERIFY(waitFor([] { return noChildProcesses(); }, 60000));
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
        AppWindow *window = m_app.openWindow();
        VideoEditorViewModel *model = modelOf(window);
        QVERIFY(loadAndWait(*model, path, 20000));
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
        AppWindow *window = m_app.openWindow();
        VideoEditorViewModel *model = modelOf(window);
        QVERIFY(loadAndWait(*model, path, 20000));
        damage(path, how);
        const QString output = m_dir.filePath(QStringLiteral("gone%1.mp4").arg(m_counter));
        model->setOutputPath(output);
        model->exportCut();
        QVERIFY(exportFinished(model));
        const QString log = model->logOutput();
        QVERIFY2(lastLine(log).startsWith(QStringLiteral("❌ Failed (exit code: ")),
                 qPrintable(log));
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
        AppWindow *window = m_app.openWindow();
        VideoEditorViewModel *model = modelOf(window);
        QVERIFY(loadAndWait(*model, path, 20000));
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
            QVERIFY2(status.startsWith(QStringLiteral("❌ Failed (exit code: ")),
                     qPrintable(status));
        }
        QVERIFY(closeAndWait(window));
    }
};

QTEST_MAIN(ClosingTest)
#include "test_closing.moc"
