#pragma once

#include "media/CutSource.h"
#include "media/OutputCheck.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace trimora {

struct CutRequest
{
    QString inputPath;  // absolute
    QString outputPath; // absolute, the name the export will write
    double in = 0.0;
    double out = 0.0;
};

struct CutPlan
{
    // For the ffmpeg program, without the executable.
    QStringList arguments;
    // Log lines to show before the tool's output: streams left out and where
    // the cut really starts and ends when that is not In and Out.
    QStringList notes;
    // Set when the tool must not run; the export's status line.
    QString refusal;
    // What the written file must hold.
    std::vector<ExpectedStream> expected;
};

// The stream-copy cut of [in, out) of a source, decided from what was read
// of it on load. Without a layout every stream is mapped; without a video
// index the cut goes by In and Out alone. Pure: no file is touched.
//
// Start: a container with edit lists (MP4, MOV) starts the picture at the
// frame shown at In while the copy starts at the keyframe before it; the
// others start at that keyframe, which the notes name. The input seek is
// aimed so that the ffmpeg program lands on exactly that keyframe.
// End: the program copies every packet decoded before the -t limit. With
// B-frames the frames just before Out may be decoded from a later one, which
// is then shown too; the limit is put where no frame is skipped and as few
// as possible follow Out, and the notes say how far the cut runs past Out.
CutPlan planCut(const CutRequest &request, const SourceLayout *layout, const VideoIndex *index);

// The log line for a stream the output's container cannot hold.
QString leftOutNote(const SourceStream &stream, const std::string &containerLabel);

// "%.3f" independent of the C locale: three digits after a '.', rounded to
// nearest, sign kept.
QString formatSeconds(double seconds);

// Seconds as the log writes times: "%02d:%02d:%02d.%03d".
QString clockTime(double seconds);

} // namespace trimora
