#include "app/CommandLine.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

using namespace trimora;

namespace {

// "cut 2-5 2-7 join -o x.mp4 m.mp4", "windows a b", "text", "bad: why"
QString describe(const CommandLineRequest &request)
{
    if (const auto *open = std::get_if<OpenWindows>(&request))
        return (QStringList{QStringLiteral("windows")} + open->files).join(QLatin1Char(' '));
    if (std::holds_alternative<ShowText>(request))
        return QStringLiteral("text");
    if (const auto *bad = std::get_if<BadArguments>(&request))
        return QStringLiteral("bad: ") + bad->why;
    const CutCommand &cut = std::get<CutCommand>(request);
    QStringList words{QStringLiteral("cut")};
    words << cut.cuts;
    if (cut.join)
        words << QStringLiteral("join");
    if (cut.cutAway)
        words << QStringLiteral("away");
    if (cut.exact)
        words << QStringLiteral("exact");
    if (!cut.output.isEmpty())
        words << QStringLiteral("-o") << cut.output;
    words << cut.movie;
    return words.join(QLatin1Char(' '));
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The program as a script runs it: in folder, without a display.
Run runTrimora(const QStringList &arguments, const QString &folder = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(QStringLiteral(TRIMORA_BINARY), arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Which mode the arguments select, and what is refused before any work.
    void modesAndRefusals_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("request"); // a prefix of describe()
        const auto row = [](const char *arguments, const char *request) {
            QTest::newRow(arguments) << QString::fromUtf8(arguments) << QString::fromUtf8(request);
        };
        row("a.mp4 b.mkv", "windows a.mp4 b.mkv");
        row("", "windows");
        row("--help", "text");
        row("--cut 2-5 m.mp4", "cut 2-5 m.mp4");
        row("--cut=2-5 --cut 00:01:00.000-00:01:30.5 --join m.mp4",
            "cut 2-5 00:01:00.000-00:01:30.5 join m.mp4");
        row("--cut 2-5 --cut 7-9 --cut-away -o out.mkv m.mp4", "cut 2-5 7-9 away -o out.mkv");
        row("--cut 2-5 --exact -o out.mp4 m.mp4", "cut 2-5 exact -o out.mp4 m.mp4");
        row("-o out.mp4 --cut 1-2 m.mp4", "cut 1-2 -o out.mp4 m.mp4");
        row("--join m.mp4", "bad: no --cut");
        row("--cut 1-2 a.mp4 b.mp4", "bad: a cut takes exactly one MOVIE (2 given)");
        row("--cut 1-2", "bad: a cut takes exactly one MOVIE (0 given)");
        row("--cut 1-2 --cut 3-4 -o x.mp4 m.mp4", "bad: -o names one file");
        row("--cut 1-2 -o a.mp4 -o b.mp4 m.mp4", "bad: -o names one file");
        row("--cut", "bad: ");
        row("--frobnicate m.mp4", "bad: ");
    }

    void modesAndRefusals()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, request);
        const QString got =
            describe(parseCommandLine(arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
        QVERIFY2(got.startsWith(request), qPrintable(got));
    }

    // Times as the editor's fields take them, checked against a 12.5 s movie
    // of 25 fps: END after START, inside the movie, no overlaps in time.
    void cutsAgainstTheMovie_data()
    {
        QTest::addColumn<QString>("cuts");
        QTest::addColumn<QString>("result"); // "in..out in..out" or a word of the reason
        const auto row = [](const char *cuts, const char *result) {
            QTest::newRow(cuts) << QString::fromUtf8(cuts) << QString::fromUtf8(result);
        };
        row("2-5", "2..5");
        row("00:00:02.000-00:00:05.000", "2..5");
        row("0:02-0:05.5", "2..5.5");
        row("50f-100f", "2..4");
        row("300f-312f", "12..12.5"); // up to the end of the last frame
        row("10-12.5", "10..12.5");
        row("10-12.5004", "10..12.5"); // within the editor's milliseconds
        row("8-10 2-5", "8..10 2..5"); // list order kept
        row("5-2", "END must come after START");
        row("5-5", "END must come after START");
        row("2-13", "outside the movie");
        row("2-313f", "outside the movie");
        row("2-5 4-6", "overlap");
        row("4-6 2-5", "overlap");
        row("2", "START-END");
        row("-1-5", "START-END");
        row("x-5", "not a time");
    }

    void cutsAgainstTheMovie()
    {
        QFETCH(QString, cuts);
        QFETCH(QString, result);
        std::vector<double> frames;
        for (int i = 0; i < 312; ++i)
            frames.push_back(i * 0.04);
        const auto resolved = resolveCuts(cuts.split(QLatin1Char(' ')), 12.5, frames);
        if (const auto *list = std::get_if<SegmentList>(&resolved)) {
            QStringList ranges;
            for (const Segment &s : list->segments)
                ranges << QStringLiteral("%1..%2").arg(s.in).arg(s.out);
            QCOMPARE(ranges.join(QLatin1Char(' ')), result);
        } else {
            const QString why = std::get<QString>(resolved);
            QVERIFY2(why.contains(result), qPrintable(why));
        }
    }

    // A script's view: the lines on standard output, the exit status, and
    // what is in the folder afterwards. Each row runs in a fresh folder with
    // the 6 s matrix movie (keyframes every 2 s) as "m.mp4".
    void cutsFromAScript_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // standard output, a line each; * stands for any text
        QTest::addColumn<QStringList>("files"); // what the folder holds besides m.mp4
        const auto row = [](const char *arguments, int status, const char *out,
                            const QStringList &files) {
            QTest::newRow(arguments)
                << QString::fromUtf8(arguments) << status << QString::fromUtf8(out) << files;
        };
        row("--cut 1-3 m.mp4", 0,
            "wrote m_cut_1.mp4: 00:00:01.000–00:00:03.000, 2 streams; Ends at 00:00:03.040, "
            "0.040 s after Out\n",
            {QStringLiteral("m_cut_1.mp4")});
        row("--cut 3-4 --cut 00:00:01.000-2 m.mp4", 0,
            "wrote m_cut_1.mp4: 00:00:03.000–00:00:04.000, 2 streams\n"
            "wrote m_cut_2.mp4: 00:00:01.000–00:00:02.000, 2 streams\n",
            {QStringLiteral("m_cut_1.mp4"), QStringLiteral("m_cut_2.mp4")});
        row("--cut 25f-75f -o part.mkv m.mp4", 0,
            "wrote part.mkv: 00:00:01.000–00:00:03.000, 2 streams; Starts at the keyframe at "
            "00:00:00.000, 1.000 s before In; Ends at 00:00:03.040, 0.040 s after Out\n",
            {QStringLiteral("part.mkv")});
        row("--cut 1.3-2.5 --cut 3.1-4.7 --join m.mp4", 0,
            "wrote m_cut_1.mp4: 00:00:01.300–00:00:02.500 + 00:00:03.100–00:00:04.700, 2 "
            "streams; part 1: starts at the keyframe at 00:00:00.000, 1.300 s before In; part 2: "
            "starts at the keyframe at 00:00:02.000, 1.100 s before In\n",
            {QStringLiteral("m_cut_1.mp4")});
        row("--cut 1.3-4.7 --exact m.mp4", 0,
            "wrote m_cut_1.mp4: 00:00:01.300–00:00:04.700, 2 streams\n",
            {QStringLiteral("m_cut_1.mp4")});
        row("--cut 1-2 --cut 4-5 --cut-away --exact -o rest.mkv m.mp4", 0,
            "wrote rest.mkv: 00:00:00.000–00:00:01.000 + 00:00:02.000–00:00:04.000 + "
            "00:00:05.000–00:00:06.000, 2 streams\n",
            {QStringLiteral("rest.mkv")});
        row("--cut 1-2 --exact -o x.webm m.mp4", 1, "", {});
        row("--cut 3-2 m.mp4", 2, "", {});
        row("--cut 1-9 m.mp4", 2, "", {});
        row("--cut 1-3 --cut 2-4 --join m.mp4", 2, "", {});
        row("--cut 1-2 -o m.mp4 m.mp4", 2, "", {});
        row("--cut 1-2 nothing.mp4", 2, "", {});
        row("--cut 1-2 -o missing/x.mp4 m.mp4", 1, "", {});
    }

    void cutsFromAScript()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QStringList, files);
        QTemporaryDir folder;
        QVERIFY(QFile::copy(media(QStringLiteral("mx-h264.mp4")), folder.filePath("m.mp4")));
        const Run run = runTrimora(arguments.split(QLatin1Char(' ')), folder.path());
        QVERIFY2(run.status == status, qPrintable(QString::number(run.status) + run.err));
        QCOMPARE(run.out, out);
        QCOMPARE(run.err.isEmpty(), status == 0);
        QCOMPARE(filesIn(folder.path()), QStringList{QStringLiteral("m.mp4")} + files);
        for (const QString &file : files)
            QVERIFY(probedDuration(folder.filePath(file)) > 0.9);
    }

    // Paths print as given, on one line however they are named.
    void oddNamesPrintOnOneLine()
    {
        QTemporaryDir folder;
        const QString movie = folder.filePath(QStringLiteral("two\nlines 'x'.mp4"));
        QVERIFY(QFile::copy(media(QStringLiteral("mx-h264.mp4")), movie));
        const Run run = runTrimora({QStringLiteral("--cut"), QStringLiteral("1-2"), movie});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("wrote %1/two\\nlines 'x'_cut_1.mp4: "
                                         "00:00:01.000–00:00:02.000, 2 streams\n")
                              .arg(folder.path()));
    }

    void versionAndHelpAnswerWithoutADisplay()
    {
        const Run version = runTrimora({QStringLiteral("--version")});
        QCOMPARE(version.status, 0);
        QVERIFY2(version.out.startsWith(QStringLiteral("Trimora " TRIMORA_VERSION)),
                 qPrintable(version.out));
        const Run help = runTrimora({QStringLiteral("--help")});
        QVERIFY(help.out.contains(QStringLiteral("--cut START-END")));
        QVERIFY(help.out.contains(QStringLiteral("Exit status")));
        const Run bad = runTrimora({QStringLiteral("--cut")});
        QCOMPARE(bad.status, 2);
        QVERIFY(bad.err.contains(QStringLiteral("--help")));
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_commandline.moc"
