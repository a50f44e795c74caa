#pragma once

#include "model/SegmentList.h"

#include <QString>
#include <QStringList>

#include <variant>
#include <vector>

namespace trimora {

// What `trimora --cut START-END … MOVIE` asks for, as typed.
struct CutCommand
{
    QString movie;        // as given
    QStringList cuts;     // "START-END", in the order given
    bool join = false;    // one file of all the cuts
    bool cutAway = false; // one file of everything but the cuts
    bool exact = false;   // re-encode the edges rather than start at a keyframe
    QString output;       // -o as given; empty for free names beside the movie
};

// What the command line asks for: windows for the files, the text of --help
// or --version, a cut without a window, or arguments that make no sense.
struct OpenWindows
{
    QStringList files;
};
struct ShowText
{
    QString text;
};
struct BadArguments
{
    QString why;
};
using CommandLineRequest = std::variant<OpenWindows, ShowText, CutCommand, BadArguments>;

// arguments without the program's name. Pure.
CommandLineRequest parseCommandLine(const QStringList &arguments);

// The --help text.
QString commandLineHelp();

// The cuts of a command in the movie's time, checked against the movie: each
// START-END a time or frame number the editor's fields take, END after START,
// inside the movie, no two overlapping. frameTimes are the times of the
// movie's frames (for frame numbers). Pure.
std::variant<SegmentList, QString> resolveCuts(const QStringList &cuts, double duration,
                                               const std::vector<double> &frameTimes);

// Runs a cut command to its end: reads the movie, exports, writes one line a
// file on standard output and errors on standard error. Returns the exit
// status: 0 when every output was written and checked, 1 when an export
// failed, 2 for arguments that cannot be carried out (nothing is written).
// Needs a QCoreApplication and no display.
int runCutCommand(const CutCommand &command);

} // namespace trimora
