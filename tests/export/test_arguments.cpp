#include "export/FFmpegRunner.h"
#include "export/ShellCommand.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <clocale>

// The argument layout, number formatting and shell quoting of the cut.
class ArgumentsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondsFormatting()
    {
        QCOMPARE(formatSeconds(0), QStringLiteral("0.000"));
        QCOMPARE(formatSeconds(12.3456), QStringLiteral("12.346"));
        QCOMPARE(formatSeconds(-1.5), QStringLiteral("-1.500"));
        QCOMPARE(formatSeconds(2.75), QStringLiteral("2.750"));
        // A comma locale must not reach the tool.
        const char *saved = std::setlocale(LC_NUMERIC, nullptr);
        const QByteArray previous = saved ? QByteArray(saved) : QByteArray("C");
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            QCOMPARE(formatSeconds(1.25), QStringLiteral("1.250"));
        std::setlocale(LC_NUMERIC, previous.constData());
    }

    void relativeOutputBecomesAbsolute()
    {
        const QStringList args = ffmpegArguments(QUrl::fromLocalFile(QStringLiteral("/in.mp4")),
                                                 QUrl::fromLocalFile(QStringLiteral("-f")), 1, 2);
        QCOMPARE(args.last(), QDir::current().absoluteFilePath(QStringLiteral("-f")));
        QVERIFY(args.last().startsWith(QLatin1Char('/')));
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain path") << "/Movies/clip.mov"
                                    << "/Movies/clip.mov";
        QTest::newRow("all safe punctuation") << "a._-/+=:@%,b"
                                              << "a._-/+=:@%,b";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("space") << "/My Movies/clip.mov"
                               << "'/My Movies/clip.mov'";
        QTest::newRow("apostrophe") << "it's.mov"
                                    << "'it'\\''s.mov'";
        QTest::newRow("double quote") << "a\"b"
                                      << "'a\"b'";
        QTest::newRow("command substitution") << "$(rm -rf ~)"
                                              << "'$(rm -rf ~)'";
        QTest::newRow("backslash") << "a\\b"
                                   << "'a\\b'";
        QTest::newRow("glob") << "*.mp4"
                              << "'*.mp4'";
        QTest::newRow("tilde") << "~/x"
                               << "'~/x'";
        QTest::newRow("newline") << "a\nb"
                                 << "'a\nb'";
        QTest::newRow("accented") << "/Vidéos/été.mov"
                                  << "/Vidéos/été.mov";
        QTest::newRow("combining mark") << "e\u0301.mov"
                                        << "e\u0301.mov";
        QTest::newRow("japanese") << "/動画/日本語.mp4"
                                  << "/動画/日本語.mp4";
        QTest::newRow("astral letter") << "\U0001D400.mp4"
                                       << "\U0001D400.mp4";
        QTest::newRow("emoji") << "\U0001F600.mp4"
                               << "'\U0001F600.mp4'";
        QTest::newRow("no-break space") << "a\u00A0b"
                                        << "'a\u00A0b'";
    }

    void quoting()
    {
        QFETCH(QString, word);
        QFETCH(QString, quoted);
        QCOMPARE(shellQuoted(word), quoted);
    }

    void commandText()
    {
        QTemporaryDir dir;
        const QString tool = writeStandIn(dir.path(), QStringLiteral("ffmpeg"), "exit 0");
        const QUrl in = QUrl::fromLocalFile(QStringLiteral("/My Movies/it's.mov"));
        const QUrl out = QUrl::fromLocalFile(QStringLiteral("/out/日本.mov"));
        QCOMPARE(shellCommand(in, out, 1.5, 2.75, {dir.path() + "/none"}),
                 QStringLiteral("ffmpeg -ss 1.500 -i '/My Movies/it'\\''s.mov' -t 2.750 -vcodec "
                                "copy -acodec copy -y /out/日本.mov"));
        QVERIFY(shellCommand(in, out, 1.5, 2.75, {dir.path() + "/none", tool})
                    .startsWith(tool + QStringLiteral(" -ss ")));
    }

    void commandPreview()
    {
        QTemporaryDir dir;
        VideoEditorViewModel model;
        model.ffmpegLocationsForTesting = QStringList{dir.path() + QStringLiteral("/none")};
        QSignalSpy changed(&model, &VideoEditorViewModel::commandPreviewChanged);
        model.setOutputPath(QStringLiteral("/o/out.mp4"));
        QCOMPARE(model.commandPreview(), QString()); // no source
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/in.mp4")));
        model.setInPointValue(1.5);
        model.setOutPointValue(4.25);
        QCOMPARE(model.commandPreview(),
                 QStringLiteral("ffmpeg -ss 1.500 -i /in.mp4 -t 2.750 -vcodec copy -acodec copy "
                                "-y /o/out.mp4"));
        QCOMPARE(changed.count(), 4);
        model.setOutputPath(QString());
        QCOMPARE(model.commandPreview(), QString());
        // An existing output still shows the requested name, not the free one.
        const QString existing = writeStandIn(dir.path(), QStringLiteral("taken.mp4"), "");
        model.setOutputPath(existing);
        QVERIFY(model.commandPreview().endsWith(QStringLiteral(" -y ") + existing));
    }
};

QTEST_MAIN(ArgumentsTest)
#include "test_arguments.moc"
