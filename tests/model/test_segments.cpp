#include "media/Player.h"
#include "model/ProjectFile.h"
#include "model/ProjectKeeper.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace trimora;

namespace {

// "0..3 3..5* 8..12.5" : the list in list order, * the selected one, labels
// after a colon ("0..3:intro").
SegmentList parse(const QString &text)
{
    SegmentList list;
    for (QString item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (item.endsWith(QLatin1Char('*'))) {
            list.selected = static_cast<int>(list.segments.size());
            item.chop(1);
        }
        const QString label = item.section(QLatin1Char(':'), 1);
        const QStringList times = item.section(QLatin1Char(':'), 0, 0).split(QStringLiteral(".."));
        list.segments.push_back({times[0].toDouble(), times[1].toDouble(), label});
    }
    return list;
}

QString show(const SegmentList &list)
{
    QStringList items;
    for (size_t i = 0; i < list.segments.size(); ++i) {
        const Segment &s = list.segments[i];
        QString item = QStringLiteral("%1..%2").arg(s.in).arg(s.out);
        if (!s.label.isEmpty())
            item += QLatin1Char(':') + s.label;
        if (static_cast<int>(i) == list.selected)
            item += QLatin1Char('*');
        items << item;
    }
    return items.join(QLatin1Char(' '));
}

} // namespace

class SegmentsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    // Every edit on a 12.5 s movie, one after another; then all of them undone
    // step by step, and redone. A drag is one step however far it went.
    void editsUndoAndRedo()
    {
        Segments segments;
        segments.reset(12.5);
        struct Step
        {
            const char *what;
            std::function<bool(Segments &)> edit;
            const char *after; // nullptr: refused, nothing changes
        };
        const std::vector<Step> steps = {
            {"split", [](Segments &s) { return s.splitAt(4); }, "0..4 4..12.5*"},
            {"split at an edge", [](Segments &s) { return s.splitAt(4); }, nullptr},
            {"In", [](Segments &s) { return s.setIn(6); }, "0..4 6..12.5*"},
            {"add in the gap", [](Segments &s) { return s.addAt(4.5); }, "0..4 4.5..6* 6..12.5"},
            {"add inside a segment", [](Segments &s) { return s.addAt(7); }, nullptr},
            {"drag In into the neighbour",
             [](Segments &s) {
                 s.beginDrag();
                 s.setIn(5.0);
                 s.setIn(3.0); // stops at the end of 0-4
                 s.endDrag();
                 return true;
             },
             "0..4 4..6* 6..12.5"},
            {"Out past the next", [](Segments &s) { return s.setOut(9); }, nullptr},
            {"label", [](Segments &s) { return s.setLabel(1, QStringLiteral("ad")); },
             "0..4 4..6:ad* 6..12.5"},
            {"move up", [](Segments &s) { return s.moveSelected(-1); }, "4..6:ad* 0..4 6..12.5"},
            {"move up at the top", [](Segments &s) { return s.moveSelected(-1); }, nullptr},
            {"delete", [](Segments &s) { return s.removeSelected(); }, "0..4* 6..12.5"},
            {"Out at the end", [](Segments &s) { return s.setOut(20); }, "0..6* 6..12.5"},
            {"import", [](Segments &s) { return s.replace(parse("1..2* 3..4"), {}); },
             "1..2* 3..4"},
            {"overlapping import", [](Segments &s) { return s.replace(parse("1..3* 2..4"), {}); },
             nullptr},
        };
        std::vector<QString> states{show(segments.list())};
        for (const Step &step : steps) {
            const QString before = show(segments.list());
            const bool done = step.edit(segments);
            const QString expected = step.after ? QString::fromLatin1(step.after) : before;
            QVERIFY2(show(segments.list()) == expected,
                     qPrintable(QStringLiteral("%1: %2, expected %3")
                                    .arg(step.what, show(segments.list()), expected)));
            QCOMPARE(done || !step.after, true);
            if (step.after)
                states.push_back(expected);
        }
        QCOMPARE(segments.undoStack()->count(), static_cast<int>(states.size()) - 1);
        for (size_t i = states.size() - 1; i > 0; --i) {
            segments.undoStack()->undo();
            QCOMPARE(show(segments.list()), states[i - 1]);
        }
        for (size_t i = 1; i < states.size(); ++i) {
            segments.undoStack()->redo();
            QCOMPARE(show(segments.list()), states[i]);
        }
    }

    // Time order decides neighbours and previous/next, whatever the list order;
    // a cut-away keeps what lies between, in time order.
    void timeOrderGovernsNeighbours()
    {
        Segments segments;
        segments.reset(12.5, parse("8..10 0..2* 4..6"));
        segments.selectInTime(1);
        QCOMPARE(segments.selected(), 2); // 4-6
        segments.selectInTime(1);
        QCOMPARE(segments.selected(), 0); // 8-10
        segments.selectInTime(1);
        QCOMPARE(segments.selected(), 0);
        QVERIFY(segments.setIn(1)); // stops at the end of 4-6
        QCOMPARE(segments.inPoint(), 6.0);
        QCOMPARE(show(segments.list()), QStringLiteral("6..10* 0..2 4..6"));
        const auto between = [&] {
            std::vector<ExportRange> ranges;
            for (const Segment &s : segments.list().segments)
                ranges.push_back({s.in, s.out, s.label});
            return rangesBetween(ranges, 12.5, 0.04);
        };
        const std::vector<ExportRange> gaps = between();
        QCOMPARE(gaps.size(), size_t(2));
        QCOMPARE(gaps[0].in, 2.0);
        QCOMPARE(gaps[0].out, 4.0);
        QCOMPARE(gaps[1].in, 10.0);
        QCOMPARE(gaps[1].out, 12.5);
        segments.setOut(12.5); // now nothing after it: the last gap is gone
        QCOMPARE(between().size(), size_t(1));
    }

    // What comes from outside never takes the program down, and says why it
    // cannot be used.
    void badProjectFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("why"); // a word of the reason; empty: it reads
        const QByteArray movie =
            R"("movie":{"path":"m.mp4","absolutePath":"/x/m.mp4","size":10,"duration":12.5})";
        const auto project = [&](const QByteArray &rest) {
            return R"({"format":"trimora-project","version":1,)" + movie + rest + "}";
        };
        QTest::newRow("good") << project(R"(,"segments":[{"in":1,"out":2,"label":"a"}])")
                              << QString();
        QTest::newRow("empty") << QByteArray() << QStringLiteral("not a project");
        QTest::newRow("truncated") << project(R"(,"segments":[{"in":1,"out":2}])").left(60)
                                   << QStringLiteral("not a project");
        QTest::newRow("array") << QByteArray("[1,2]") << QStringLiteral("not a project");
        QTest::newRow("other format")
            << QByteArray(R"({"format":"x","version":1})") << QStringLiteral("not a project");
        QTest::newRow("newer") << QByteArray(R"({"format":"trimora-project","version":9})")
                               << QStringLiteral("newer");
        QTest::newRow("version text") << QByteArray(R"({"format":"trimora-project","version":"1"})")
                                      << QStringLiteral("version");
        QTest::newRow("no movie")
            << QByteArray(R"({"format":"trimora-project","version":1,"segments":[]})")
            << QStringLiteral("movie");
        QTest::newRow("segments a string")
            << project(R"(,"segments":"1..2")") << QStringLiteral("segment list");
        QTest::newRow("time a string")
            << project(R"(,"segments":[{"in":"1","out":2}])") << QStringLiteral("segment 1");
        QTest::newRow("huge time")
            << project(R"(,"segments":[{"in":1,"out":1e300}])") << QStringLiteral("segment 1");
        QTest::newRow("label a number") << project(R"(,"segments":[{"in":1,"out":2,"label":5}])")
                                        << QStringLiteral("segment 1");
        QTest::newRow("nested deep") << QByteArray(100000, '[') << QStringLiteral("not a project");
        QTest::newRow("not UTF-8")
            << project(",\"segments\":[{\"in\":1,\"out\":2,\"label\":\"\xff\"}]")
            << QStringLiteral("not a project");
    }

    void badProjectFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, why);
        const std::variant<Project, QString> read = readProject(text);
        if (why.isEmpty()) {
            QVERIFY(std::holds_alternative<Project>(read));
            const Project &project = std::get<Project>(read);
            QCOMPARE(readProject(writeProject(project)).index(), size_t(0));
            QCOMPARE(std::get<Project>(readProject(writeProject(project))).segments,
                     project.segments);
        } else {
            const QString *reason = std::get_if<QString>(&read);
            QVERIFY(reason);
            QVERIFY2(reason->contains(why), qPrintable(*reason));
        }
    }

    // Lists that read but cannot be this movie's: the reason names the fault.
    void listsThatDoNotFit_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("why");
        QTest::newRow("fits") << QStringLiteral("0..2* 2..12.5") << QString();
        QTest::newRow("past the end") << QStringLiteral("0..2* 3..13") << QStringLiteral("outside");
        QTest::newRow("before the start") << QStringLiteral("-1..2*") << QStringLiteral("outside");
        QTest::newRow("reversed") << QStringLiteral("3..2*") << QStringLiteral("ends before");
        QTest::newRow("overlap in time, not in the list")
            << QStringLiteral("5..8* 0..2 1..3") << QStringLiteral("overlap");
    }

    void listsThatDoNotFit()
    {
        QFETCH(QString, list);
        QFETCH(QString, why);
        const QString reason = segmentRules::whyInvalid(parse(list), 12.5);
        QVERIFY2(why.isEmpty() ? reason.isEmpty() : reason.contains(why), qPrintable(reason));
    }

    // The cut list as CSV: labels with commas, quotes and line breaks come
    // back as they were; broken files say so.
    void cutListsAsCsv()
    {
        SegmentList list = parse("1.5..2.25* 3..4");
        list.segments[0].label = QStringLiteral("a, \"quoted\"\nline");
        list.segments[1].label = QStringLiteral("Überblick");
        const QByteArray text = writeCutList(list);
        QVERIFY(text.startsWith("start,end,label\r\n1.5,2.25,\"a, \"\"quoted\"\"\nline\"\r\n"));
        const auto read = readCutList(text);
        QVERIFY(std::holds_alternative<SegmentList>(read));
        QCOMPARE(std::get<SegmentList>(read), list);
        QVERIFY(std::holds_alternative<SegmentList>(readCutList("1,2\n3,4,x")));
        for (const char *bad : {"1,2,\"open", "1,\"2\"x,a", "one,2,a", "1,2,a,b", "", "1", "1,nan"})
            QVERIFY2(std::holds_alternative<QString>(readCutList(bad)), bad);
    }

    // The work comes back when the same movie is opened again, and only then;
    // a project file written elsewhere finds its movie beside it or where it
    // was, and one of another movie is refused with the movie still open.
    void theWorkIsKept()
    {
        const KeptWorkFolder kept;
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("kept.mp4"));
        QVERIFY(QFile::copy(media(QStringLiteral("clip1s.mp4")), movie));
        {
            VideoEditorViewModel model;
            QVERIFY(loadAndWait(model, movie));
            model.segments()->splitAt(0.4);
            model.segments()->setLabel(0, QStringLiteral("first"));
            model.exports()->setChoice({true, false, false});
            QVERIFY(model.project()->saveProject(dir.filePath(QStringLiteral("p.trimora"))));
        } // closed within the save delay: the change is still kept
        VideoEditorViewModel model;
        QSignalSpy notices(&model, &VideoEditorViewModel::notice);
        QVERIFY(loadAndWait(model, movie));
        QCOMPARE(show(model.segments()->list()), QStringLiteral("0..0.4:first 0.4..1*"));
        QVERIFY(model.exports()->choice().joined);
        QVERIFY(model.segments()->undoStack()->count() == 0);

        // Another movie keeps its own (here: none).
        QVERIFY(loadAndWait(model, QStringLiteral("noaudio.mp4")));
        QCOMPARE(model.segments()->count(), 1);

        // The project and its movie moved together to another folder.
        QTemporaryDir moved;
        QVERIFY(QFile::rename(movie, moved.filePath(QStringLiteral("kept.mp4"))));
        QVERIFY(QFile::rename(dir.filePath(QStringLiteral("p.trimora")),
                              moved.filePath(QStringLiteral("p.trimora"))));
        QVERIFY(model.project()->openProject(moved.filePath(QStringLiteral("p.trimora")),
                                             [&](const QUrl &url) { model.loadVideo(url); }));
        QVERIFY(waitFor([&] { return model.segments()->count() == 2; }, 10000));
        QCOMPARE(model.segments()->list().segments[0].label, QStringLiteral("first"));

        // A project of another movie: the movie opens whole, the project is refused.
        QFile file(moved.filePath(QStringLiteral("p.trimora")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        text.replace(QRegularExpression(QStringLiteral("\"size\": \\d+"))
                         .match(QString::fromUtf8(text))
                         .captured(0)
                         .toUtf8(),
                     "\"size\": 1");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        QVERIFY(loadAndWait(model, QStringLiteral("noaudio.mp4")));
        notices.clear();
        QVERIFY(model.project()->openProject(file.fileName(),
                                             [&](const QUrl &url) { model.loadVideo(url); }));
        QVERIFY(notices.wait(10000));
        QVERIFY2(notices.first().first().toString().contains(QStringLiteral("another movie")),
                 qPrintable(notices.first().first().toString()));
        QVERIFY(model.movie()->sourceURL().toLocalFile().endsWith(QStringLiteral("kept.mp4")));
    }
};

QTEST_MAIN(SegmentsTest)
#include "test_segments.moc"
