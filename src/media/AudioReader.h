#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace trimora {

enum class AudioReadStatus {
    NotStarted, // no file, no audio stream, or no decoder: nothing was delivered
    Finished,   // reached the end of the range or of the data
    Stopped,    // shouldStop() asked to leave
};

// Decodes the first audio stream of [start, end] (media seconds) of a file as
// signed 16-bit mono samples at outputRate and hands them to onChunk piece by piece.
// shouldStop() is asked once reading has started and after every chunk.
// Blocks: call it off the main thread.
AudioReadStatus
readAudioRange(const std::string &path, double start, double end, int outputRate,
               const std::function<void(const std::int16_t *, std::size_t)> &onChunk,
               const std::function<bool()> &shouldStop);

} // namespace trimora
