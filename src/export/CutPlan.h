#pragma once

#include "media/CutSource.h"
#include "media/OutputCheck.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace trimora {

struct OutputContainer;

struct CutRequest
{
    QString inputPath;  // absolute
    QString outputPath; // absolute, the name the export will write
    double in = 0.0;
    double out = 0.0;
    // A part of a join: it starts at its keyframe even in a container that
    // could hide the frames before In, since nothing hides them at a join.
    bool startAtKeyframe = false;
};

inline const QString emptyRangeRefusal = QStringLiteral("the marked range is empty");

struct CutPlan
{
    // For the ffmpeg program, without the executable: the command a user
    // would type, writing the requested output.
    QStringList arguments;
    // Log lines to show before the tool's output: streams left out and where
    // the cut really starts and ends when that is not In and Out.
    QStringList notes;
    // The last of these, without their reasons, for the status line.
    QStringList facts;
    // Set when the tool must not run: why.
    QString refusal;
    // What the written file must hold.
    std::vector<ExpectedStream> expected;
    // The cut's span from its first frame to its end, which the written file
    // must not fall short of by more than a frame; and the marked range.
    double length = 0.0;
    double tolerance = 0.0;
    double marked = 0.0;
    // Where the source's data stops short of what it promises.
    std::optional<double> sourceEndsAt;
    // Where the cut really starts and ends, when that is not In and Out.
    std::optional<double> startsAt;
    std::optional<double> endsAt;

    // The arguments writing to path instead, which the caller has made (the
    // tool replaces it).
    QStringList argumentsWritingTo(const QString &path) const;
    // Why a written file of this length is not the cut, or an empty text.
    QString shortfall(double writtenLength) const;
};

// The stream-copy cut of a source between In and Out, decided from what was
// read of it on load. The frame on show at In is the cut's first, the frame
// on show at Out the first one not in it, at any frame rate. Without a layout
// every stream is mapped; without a video index the cut goes by In and Out
// alone. Pure: no file is touched.
//
// Start: a container with edit lists (MP4, MOV) starts the picture at the
// frame shown at In while the copy starts at the keyframe before it; the
// others start at that keyframe, which the notes name. The input seek is
// aimed so that the ffmpeg program lands on exactly that keyframe, and the
// output's time 0 is the cut's first frame: chapters, cues and the timecode
// count from it.
// End: the program copies every packet decoded before the -t limit. With
// B-frames the frames just before the end may be decoded from a later one,
// which is then shown too; the limit is put where no frame is skipped and as
// few as possible follow, and the notes say how far the cut runs past Out.
// Text subtitles come from a second reading of the source that starts early
// enough for a cue running over the start, and are cut to the picture: a cue
// running over either end is clipped to it.
CutPlan planCut(const CutRequest &request, const SourceLayout *layout, const VideoIndex *index);

// MOV and MP4 write a timecode track from the video's timecode tag, Matroska
// keeps the tag; the timecode of the others is lost with its track.
bool keepsTimecode(const OutputContainer &container);

// The log line for a stream the output's container cannot hold.
QString leftOutNote(const SourceStream &stream, const OutputContainer &container);

// The one wording of where a cut really starts and ends, for the log, the
// status line and wherever else it is shown.
QString startFact(double keyframe, double in);
QString endFact(double end, double out);

// "%.3f" independent of the C locale: three digits after a '.', rounded to
// nearest, sign kept.
QString formatSeconds(double seconds);

// Seconds as the log writes times: "%02d:%02d:%02d.%03d".
QString clockTime(double seconds);

} // namespace trimora
