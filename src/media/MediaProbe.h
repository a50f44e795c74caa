#pragma once

#include <QString>

#include <optional>

// The movie's duration in seconds, or nothing when the file is not a movie
// that can be played (not readable, not a media container, no audio or video
// stream, no known duration). Blocks: call it off the main thread.
std::optional<double> probeDuration(const QString &path);
