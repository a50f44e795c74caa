#pragma once

// Carries out an exact cut in-process: the re-encoded edges and the copied
// packets of every range joined at the packet level into one file, the sound
// re-encoded to the same span, the other streams copied; then the written
// file is checked. Blocks: call it off the main thread.

#include "media/ExactJob.h"

#include <functional>
#include <string>

namespace trimora {

// Writes the job's ranges, joined in order, from source into output (a new
// file: the caller gives a temporary name beside the final one and renames
// it once this succeeded) with the muxer job.muxer, then checks it
// (verifyExactCut). progress gets 0..1; cancelled() is asked every few
// packets and frames, also from a second thread of the cut. On failure or
// cancellation the output may be left behind: the caller removes it.
ExactOutcome runExactCut(const ExactJob &job, const std::string &source, const std::string &output,
                         const std::function<void(double)> &progress,
                         const std::function<bool()> &cancelled);

// The check of a written exact cut or join, which runs after every one. While
// it was written, the re-encoded pictures and the copied ones up to the first
// keyframe after every seam were decoded as handed to the muxer, with the
// stream's parameter sets, without error (re-encoded ones measured at 40 dB
// or more against the source's pictures, copied ones identical to them; the
// record holds what they decoded to). The file must then hold those very
// pictures: the expected streams; the expected number of pictures, in the
// expected order, none hidden by an edit list; every coded picture the one
// written (copied ones byte-identical to the source's), carrying no parameter
// sets but its own, the stream's sets those the check decoded with; every
// sound track's packets those written, starting and ending within one of its
// frames of the picture. Returns the failed check, or an empty text.
// keepGoing stops the check as cancelled by answering false.
std::string verifyExactCut(const std::string &output, const ExactJob &job,
                           const ExactRecord &record,
                           const std::function<bool(double)> &keepGoing = {});

} // namespace trimora
