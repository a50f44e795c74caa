#pragma once

#include "export/FrameView.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace trimora {

struct ExactCutPlan
{
    ExactJob job;    // to carry out when refusal is empty
    QString refusal; // why the movie cannot be cut exactly
    // What the editor says before the export: what is re-encoded ("re-encodes
    // 0.88 s at the start and 0.08 s at the end; the rest is copied"), or why
    // the movie cannot be cut exactly and that Copy will be used; then what
    // becomes of the sound, a sentence of its own (empty without sound).
    QString summary;
    QString sound;
    QStringList notes; // streams left out
    std::vector<ExpectedStream> expected;
};

// The exact cut of the ranges, joined in list order into one file named
// outputName (its extension chooses the container). Pure: no file is touched.
//
// Per range, K1 is the first keyframe at or after the frame on show at In
// that decodes on its own (an IDR; for HEVC also a CRA, which becomes a
// broken link), E the last point at or before Out where the frames shown
// from K1 up to E are exactly the first ones in decode order from K1. [In, K1)
// and [E, Out) are re-encoded, decoding from the keyframe before each; the
// packets in between are copied. A range without such a keyframe is
// re-encoded whole. One range the movie cannot cut exactly refuses them all.
ExactCutPlan planExactCut(const std::shared_ptr<const ExactSource> &source,
                          const std::vector<CutRange> &ranges, const QString &outputName);

} // namespace trimora
