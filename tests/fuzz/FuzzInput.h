#pragma once

// Shared by the fuzz targets: the media readers take a path, so each input is
// written to an anonymous in-memory file and handed over by its /proc name.

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size);
    ~FuzzInput();
    FuzzInput(const FuzzInput &) = delete;
    FuzzInput &operator=(const FuzzInput &) = delete;

    // Empty when the file could not be made.
    const std::string &path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

// Silences the demuxers' and decoders' complaints, which would otherwise
// flood the fuzzer's output; once per process.
void quietMediaLogs();
