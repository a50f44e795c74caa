// A corpus of awkward inputs, built at test time, each loaded into a window
// of its own: it either loads with its real length (and can be played,
// scanned, read and cut) or its load is abandoned silently. Nothing may hang,
// crash, or write anywhere but the chosen output.
#include "FaultSupport.h"
#include "media/Player.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace trimora;

namespace {

constexpr double abandoned = -1.0;

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_corpus;
    QString m_outputs;
    TrimoraApp m_app;

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
        QVERIFY2(lastLine(model->logOutput()) == QStringLiteral("✅ Completed successfully"),
                 qPrintable(model->logOutput()));
        QVERIFY(probedDuration(model->outputPath()) > 0.0);
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
        // Let the temporary folder be removed even where permissions bind.
        for (const QString &entry : QDir(m_corpus).entryList(QDir::Files))
            QFile::setPermissions(m_corpus + QLatin1Char('/') + entry,
                                  QFile::ReadOwner | QFile::WriteOwner);
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
};

QTEST_MAIN(BadInputTest)
#include "test_badinput.moc"
