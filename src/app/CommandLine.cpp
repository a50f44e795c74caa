#include "app/CommandLine.h"

#include "model/TimeText.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// A time a little past the end is the end: the editor shows milliseconds.
constexpr double endSlack = 0.0005;

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

struct Options
{
    QCommandLineOption cut{QStringLiteral("cut"), {}, QStringLiteral("START-END")};
    QCommandLineOption join{QStringLiteral("join")};
    QCommandLineOption cutAway{QStringLiteral("cut-away")};
    QCommandLineOption exact{QStringLiteral("exact")};
    QCommandLineOption output{
        {QStringLiteral("o"), QStringLiteral("output")}, {}, QStringLiteral("OUTPUT")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};
};

// One end of a cut in the movie's time, or why not.
std::variant<double, QString> resolveEnd(const QString &text, double duration,
                                         const std::vector<double> &frameTimes)
{
    const TypedTime typed = parseTimeText(text);
    if (typed.kind == TypedTime::Kind::Invalid)
        return tr("\"%1\" is not a time: %2").arg(text, typed.problem);
    if (typed.kind == TypedTime::Kind::Frame) {
        if (frameTimes.empty())
            return tr("\"%1\": this movie's frames cannot be counted").arg(text);
        // One past the last frame is the end of the movie.
        if (typed.frame > frameTimes.size())
            return tr("\"%1\" is outside the movie (%2 frames)").arg(text).arg(frameTimes.size());
        if (typed.frame == frameTimes.size())
            return duration;
    } else if (typed.seconds > duration + endSlack) {
        return tr("\"%1\" is outside the movie (%2 s long)")
            .arg(text, QString::number(duration, 'f', 3));
    }
    const std::optional<double> at = resolveTypedTime(typed, duration, frameTimes);
    if (!at)
        return tr("\"%1\" is not a time").arg(text);
    return *at;
}

} // namespace

QString commandLineHelp()
{
    return tr("Usage: trimora [MOVIE…]\n"
              "       trimora --cut START-END [--cut START-END …] [--join] [--cut-away]"
              " [--exact] [-o OUTPUT] MOVIE\n"
              "\n"
              "Without cut options, each MOVIE opens in a window of its own.\n"
              "\n"
              "Cutting without a window (no display needed):\n"
              "  --cut START-END  a segment of MOVIE; repeat for more. START and END are\n"
              "                   seconds (12.5), HH:MM:SS.mmm, MM:SS or a frame number\n"
              "                   (1234f, from 0), counted from the movie's first frame as\n"
              "                   the editor shows it. The frame on show at START is the\n"
              "                   first of the cut, the frame on show at END the first one\n"
              "                   not in it.\n"
              "  --join           one file of all segments, in the order given\n"
              "  --cut-away       one file of everything but the segments\n"
              "  --exact          re-encode the frames at the edges so that each cut starts\n"
              "                   and ends exactly; fails with the reason when the movie\n"
              "                   cannot be cut so\n"
              "  -o OUTPUT        the file to write (one file: one --cut, --join or\n"
              "                   --cut-away); never replaced if it exists. Without -o,\n"
              "                   each file gets a free name beside MOVIE (NAME_cut_N.EXT).\n"
              "\n"
              "Streams are copied unchanged (but for --exact's edges); each written file is\n"
              "opened and checked before it gets its name. One line a written file on\n"
              "standard output:\n"
              "  wrote PATH: 00:00:02.000–00:00:05.000, N streams\n"
              "followed by \"; \" and where the cut really starts or ends when that is not\n"
              "START or END. Errors go to standard error.\n"
              "\n"
              "Exit status: 0 every file written and checked; 1 an export failed;\n"
              "2 arguments that cannot be carried out (nothing is written).\n"
              "\n"
              "  -h, --help       this text\n"
              "  -v, --version    the version\n");
}

CommandLineRequest parseCommandLine(const QStringList &arguments)
{
    const Options o;
    QCommandLineParser parser;
    parser.addOptions({o.cut, o.join, o.cutAway, o.exact, o.output, o.help, o.version});
    if (!parser.parse(QStringList{QStringLiteral("trimora")} + arguments))
        return BadArguments{parser.errorText()};
    if (parser.isSet(o.help))
        return ShowText{commandLineHelp()};
    if (parser.isSet(o.version))
        return ShowText{QStringLiteral("Trimora %1\n").arg(QCoreApplication::applicationVersion())};
    const bool cutting = parser.isSet(o.cut) || parser.isSet(o.join) || parser.isSet(o.cutAway) ||
                         parser.isSet(o.exact) || parser.isSet(o.output);
    if (!cutting)
        return OpenWindows{parser.positionalArguments()};

    CutCommand command;
    command.cuts = parser.values(o.cut);
    command.join = parser.isSet(o.join);
    command.cutAway = parser.isSet(o.cutAway);
    command.exact = parser.isSet(o.exact);
    command.output = parser.value(o.output);
    const QStringList movies = parser.positionalArguments();
    if (movies.size() != 1)
        return BadArguments{tr("a cut takes exactly one MOVIE (%1 given)").arg(movies.size())};
    command.movie = movies.first();
    if (command.cuts.isEmpty())
        return BadArguments{tr("no --cut START-END given")};
    if (parser.values(o.output).size() > 1)
        return BadArguments{tr("-o names one file; it was given more than once")};
    if (parser.isSet(o.output) && command.output.isEmpty())
        return BadArguments{tr("-o needs a file name")};
    if (!command.output.isEmpty() && command.cuts.size() > 1 && !command.join && !command.cutAway)
        return BadArguments{tr("-o names one file: with several --cut, add --join")};
    return command;
}

std::variant<SegmentList, QString> resolveCuts(const QStringList &cuts, double duration,
                                               const std::vector<double> &frameTimes)
{
    SegmentList list;
    for (const QString &cut : cuts) {
        const QStringList ends = cut.split(QLatin1Char('-'));
        if (ends.size() != 2)
            return tr("--cut %1: give START-END").arg(cut);
        const auto start = resolveEnd(ends[0].trimmed(), duration, frameTimes);
        if (const QString *why = std::get_if<QString>(&start))
            return tr("--cut %1: %2").arg(cut, *why);
        const auto end = resolveEnd(ends[1].trimmed(), duration, frameTimes);
        if (const QString *why = std::get_if<QString>(&end))
            return tr("--cut %1: %2").arg(cut, *why);
        const double in = std::get<double>(start);
        const double out = std::get<double>(end);
        if (!(out > in))
            return tr("--cut %1: END must come after START").arg(cut);
        list.segments.push_back(Segment{in, out, {}});
    }
    list.selected = 0;
    const std::vector<int> order = segmentRules::byTime(list);
    for (size_t k = 1; k < order.size(); ++k) {
        const Segment &before = list.segments[size_t(order[k - 1])];
        const Segment &after = list.segments[size_t(order[k])];
        if (after.in < before.out)
            return tr("--cut %1 and --cut %2 overlap").arg(cuts[order[k - 1]], cuts[order[k]]);
    }
    return list;
}

} // namespace trimora
