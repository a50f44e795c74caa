#pragma once

// What an exact cut needs to know of its source, read without decoding:
// every packet of the picture stream with its timestamps in the stream's own
// ticks, how each key packet starts decoding, and what an encoder must match.
// Plain data: the decisions are made from it elsewhere.

#include "media/CutSource.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trimora {

struct Rational
{
    std::int64_t num = 0;
    std::int64_t den = 1;
    double value() const { return den != 0 ? static_cast<double>(num) / den : 0.0; }
};

// How a packet's picture starts decoding on its own.
enum class KeyKind : std::uint8_t {
    None,     // needs earlier pictures
    Clean,    // IDR, BLA, a VP9 key frame: nothing earlier needed, nothing later shows earlier
    Cra,      // HEVC CRA: pictures after it in decode order may show earlier and need the past
    Recovery, // an H.264 I picture of an open GOP: later pictures may reach back past it
};

struct ExactPacket
{
    std::int64_t pts = 0; // stream ticks
    std::int64_t dts = 0; // stream ticks; derived from pts where the file has none
    std::int64_t duration = 0;
    KeyKind key = KeyKind::None;
    bool hidden = false; // an edit list keeps it from being shown
};

struct ExactVideo
{
    int index = -1; // the stream's number in the file
    int codecId = 0;
    std::string codecName;
    std::string profile; // libavcodec's name of it, empty when unknown
    int level = -1;
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    bool chroma420 = true;
    bool interlaced = false;
    bool hdr = false; // PQ or HLG transfer, mastering or light-level metadata, Dolby Vision
    Rational timeBase;
    Rational frameRate; // nominal; 0/1 when unknown
    int reorderDepth = 0;
    // H.264 parameter set ids of the source (SPS and PPS), so that the
    // encoder's can be told apart from them.
    std::vector<int> parameterSetIds;
    std::vector<ExactPacket> packets; // decode order
};

struct ExactAudio
{
    int index = -1;
    int codecId = 0;
    std::string codecName;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t bitRate = 0; // 0 when unknown
    bool lossless = false;    // PCM or FLAC
};

struct ExactSource
{
    double origin = 0.0;    // container seconds of the movie's time 0
    std::string demuxer;    // libavformat's name
    SourceLayout layout;    // every content stream, as a copy cut sees them
    int movingPictures = 0; // video streams that are not cover pictures
    std::optional<ExactVideo> video;
    std::vector<ExactAudio> audio;
};

// Reads the source description. cancelled() is asked every few hundred
// packets; a cancelled or unreadable file gives nothing. Blocks: call it off
// the main thread.
std::optional<ExactSource> readExactSource(const std::string &path,
                                           const std::function<bool()> &cancelled);

} // namespace trimora
