#include "FuzzInput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <sys/mman.h>
#include <unistd.h>

FuzzInput::FuzzInput(const std::uint8_t *data, std::size_t size)
{
    m_fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (m_fd < 0)
        return;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_fd, data + written, size - written);
        if (n <= 0)
            return;
        written += static_cast<std::size_t>(n);
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
}

FuzzInput::~FuzzInput()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void quietMediaLogs()
{
    static const bool done = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)done;
}
