// Closing a window while its background work runs: the workers find the model
// gone (AddressSanitizer reports any write into it), and a started export
// still writes its whole output.
#include "FaultSupport.h"
#include "media/Player.h"

#include <QTemporaryDir>

using namespace trimora;

class ClosingTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TrimoraApp m_app;

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
};

QTEST_MAIN(ClosingTest)
#include "test_closing.moc"
