#pragma once

#include "export/FrameView.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace trimora {

struct CopyJoinPlan
{
    ExactJob job;      // to carry out with runExactCut when refusal is empty
    QString refusal;   // why the ranges cannot be joined
    QStringList notes; // streams left out
    // Per range, in list order: where its copy really starts and ends, in the
    // words of the copy cut ("Starts at the keyframe at …", "Ends at …");
    // empty for a range that holds exactly what was marked.
    std::vector<QStringList> facts;
    std::vector<ExpectedStream> expected;
};

// The ranges, in list order, copied without re-encoding into one file named
// outputName (its extension chooses the container). Pure: no file is touched.
//
// Each range is copied from the keyframe at or before the frame on show at In
// (for H.264 an IDR picture; pictures shown before that keyframe but decoded
// after it are dropped; an HEVC CRA becomes a broken link) up to the first point where every frame
// before the one on show at Out is in and none is missing: with B-frames a
// frame or two past Out. Every sound track is copied packet by packet, chosen
// per range to keep to the picture; the other streams as a copy cut keeps
// them.
CopyJoinPlan planCopyJoin(const std::shared_ptr<const ExactSource> &source,
                          const std::vector<CutRange> &ranges, const QString &outputName);

} // namespace trimora
