#include "export/FFmpegRunner.h"
#include "export/OutputNaming.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace trimora;

// Default and free output names, checked against a real folder.
class NamingTest : public QObject
{
    Q_OBJECT

private:
    QString m_root;
    QTemporaryDir m_temp;

    QString path(const QString &name) const { return m_root + QLatin1Char('/') + name; }
    void touch(const QString &name) const { QFile(path(name)).open(QIODevice::WriteOnly); }

private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void init()
    {
        m_root = m_temp.path() + QStringLiteral("/%1-%2")
                                     .arg(QTest::currentTestFunction())
                                     .arg(QString::fromUtf8(QTest::currentDataTag()));
        QDir().mkpath(m_root);
    }

    void uniqueNameTable_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("expected");
        QTest::newRow("counter") << "clip_cut_1.mp4"
                                 << "clip_cut_2.mp4";
        QTest::newRow("no suffix") << "clip.mp4"
                                   << "clip_1.mp4";
        QTest::newRow("leading zeros") << "take_007.mov"
                                       << "take_8.mov";
        QTest::newRow("empty suffix") << "movie_.mp4"
                                      << "movie__1.mp4";
        QTest::newRow("negative") << "x_-3.mp4"
                                  << "x_-2.mp4";
        QTest::newRow("bare sign") << "x_-.mp4"
                                   << "x_-_1.mp4";
        QTest::newRow("beyond 64 bits") << "x_99999999999999999999.mp4"
                                        << "x_99999999999999999999_1.mp4";
        QTest::newRow("largest") << "x_9223372036854775807.mp4"
                                 << "x_9223372036854775807_1.mp4";
        QTest::newRow("smallest") << "x_-9223372036854775808.mp4"
                                  << "x_-9223372036854775807.mp4";
        QTest::newRow("no extension") << "noext"
                                      << "noext_1.";
        QTest::newRow("case kept") << "B_1.MOV"
                                   << "B_2.MOV";
    }

    void uniqueNameTable()
    {
        QFETCH(QString, requested);
        QFETCH(QString, expected);
        touch(requested);
        QCOMPARE(uniqueOutputPath(path(requested)), path(expected));
    }

    void uniqueNameSkipsTakenCandidates()
    {
        QCOMPARE(uniqueOutputPath(path("x_cut_5.mp4")), path("x_cut_5.mp4")); // missing: as is
        touch("x_cut_5.mp4");
        touch("x_cut_6.mp4");
        QDir(m_root).mkdir(QStringLiteral("x_cut_7.mp4")); // a directory counts as taken
        QCOMPARE(uniqueOutputPath(path("x_cut_5.mp4")), path("x_cut_8.mp4"));
        // The counter never wraps past the largest value.
        touch("x_9223372036854775806.mp4");
        touch("x_9223372036854775807.mp4");
        QCOMPARE(uniqueOutputPath(path("x_9223372036854775806.mp4")),
                 path("x_9223372036854775807_1.mp4"));
    }

    void defaultName()
    {
        VideoEditorViewModel model;
        model.updateDefaultOutputPath(QUrl::fromLocalFile(path("b.mp4")));
        QCOMPARE(model.outputPath(), path("b_cut_1.mp4"));
        touch("b_cut_1.mp4");
        touch("b_cut_2.mp4");
        model.updateDefaultOutputPath(QUrl::fromLocalFile(path("b.mp4")));
        QCOMPARE(model.outputPath(), path("b_cut_3.mp4"));
        model.updateDefaultOutputPath(QUrl::fromLocalFile(path("B.MOV")));
        QCOMPARE(model.outputPath(), path("B_cut_1.MOV"));
        model.updateDefaultOutputPath(QUrl::fromLocalFile(path("clip")));
        QCOMPARE(model.outputPath(), path("clip_cut_1.mp4"));
        model.updateDefaultOutputPath(QUrl::fromLocalFile(path("a.b.mkv")));
        QCOMPARE(model.outputPath(), path("a.b_cut_1.mkv"));
    }

    // A new movie gets its own default name unless the user chose the path:
    // the next cut must not go into the previous movie's name and container.
    void newMovieReplacesOnlyTheDefaultPath()
    {
        QFile::copy(media(QStringLiteral("clip1s.mp4")), path("clip.mp4"));
        QFile::copy(media(QStringLiteral("mx-multi.mkv")), path("multi.mkv"));
        VideoEditorViewModel model;
        // Loaded once the keyframes are read, which starts when loading ends.
        const auto load = [&](const QString &file) {
            model.loadVideo(QUrl::fromLocalFile(file));
            return waitFor(
                [&] {
                    return model.sourceURL() == QUrl::fromLocalFile(file) &&
                           model.isCutSourceReady();
                },
                20000);
        };
        QVERIFY(load(path("clip.mp4")));
        QCOMPARE(model.outputPath(), path("clip_cut_1.mp4"));
        touch("clip_cut_1.mp4"); // exported
        QVERIFY(load(path("multi.mkv")));
        QCOMPARE(model.outputPath(), path("multi_cut_1.mkv"));
        model.setOutputPath(path("typed.mov"));
        QVERIFY(load(path("clip.mp4")));
        QCOMPARE(model.outputPath(), path("typed.mov"));
    }

    void relativePathResolvesAgainstWorkingDirectory()
    {
        const QString saved = QDir::currentPath();
        QDir::setCurrent(m_root);
        touch("rel.mp4");
        const QString free =
            uniqueOutputPath(absoluteLocalPath(fileURLFromPath(QStringLiteral("rel.mp4"))));
        QDir::setCurrent(saved);
        QCOMPARE(free, path("rel_1.mp4"));
        QCOMPARE(fileURLFromPath(QStringLiteral("-y")).toLocalFile(),
                 QDir::current().absoluteFilePath(QStringLiteral("-y")));
    }
};

QTEST_MAIN(NamingTest)
#include "test_naming.moc"
