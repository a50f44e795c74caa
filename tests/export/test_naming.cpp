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

    // The requested name is taken unless it is the expected one; so are the
    // others listed (a trailing slash makes a folder, which counts as taken).
    void uniqueName_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *requested, const char *expected, QStringList taken = {}) {
            if (qstrcmp(requested, expected) != 0)
                taken << requested;
            QTest::newRow((QByteArray(requested) + " to " + expected).constData())
                << QString(requested) << taken << QString(expected);
        };
        row("x_cut_5.mp4", "x_cut_5.mp4");
        row("x_cut_5.mp4", "x_cut_8.mp4", {"x_cut_6.mp4", "x_cut_7.mp4/"});
        row("clip_cut_1.mp4", "clip_cut_2.mp4");
        row("clip.mp4", "clip_1.mp4");
        row("take_007.mov", "take_8.mov");                                 // leading zeros
        row("movie_.mp4", "movie__1.mp4");                                 // empty suffix
        row("x_-3.mp4", "x_-2.mp4");                                       // negative
        row("x_-.mp4", "x_-_1.mp4");                                       // bare sign
        row("x_99999999999999999999.mp4", "x_99999999999999999999_1.mp4"); // beyond 64 bits
        row("x_9223372036854775807.mp4", "x_9223372036854775807_1.mp4");
        row("x_-9223372036854775808.mp4", "x_-9223372036854775807.mp4");
        // The counter never wraps past the largest value.
        row("x_9223372036854775806.mp4", "x_9223372036854775807_1.mp4",
            {"x_9223372036854775807.mp4"});
        row("noext", "noext_1.");
        row("B_1.MOV", "B_2.MOV"); // case kept
    }

    void uniqueName()
    {
        QFETCH(QString, requested);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        for (const QString &name : taken) {
            if (name.endsWith(QLatin1Char('/')))
                QDir(m_root).mkdir(name);
            else
                touch(name);
        }
        QCOMPARE(uniqueOutputPath(path(requested)), path(expected));
    }

    // The movie's name with _cut_<n> and its extension (MP4 when it has none);
    // each chosen name is then taken, and the next default skips it.
    void defaultName()
    {
        VideoEditorViewModel model;
        const char *cases[][2] = {{"b.mp4", "b_cut_1.mp4"},
                                  {"b.mp4", "b_cut_2.mp4"},
                                  {"B.MOV", "B_cut_1.MOV"},
                                  {"clip", "clip_cut_1.mp4"},
                                  {"a.b.mkv", "a.b_cut_1.mkv"}};
        for (const auto &[source, expected] : cases) {
            model.updateDefaultOutputPath(QUrl::fromLocalFile(path(source)));
            QCOMPARE(model.outputPath(), path(expected));
            touch(expected);
        }
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
