#pragma once

#include <QPointer>

#include <functional>
#include <memory>

struct mpv_handle;
struct mpv_render_context;

namespace trimora {

class Player;

// Draws a Player's video into the current OpenGL framebuffer. Create, render
// and destroy it with the same GL context current.
class VideoRenderer
{
public:
    using GetProcAddress = void *(*)(void *context, const char *name);

    // requestUpdate is called from libmpv's threads whenever a new frame is due;
    // it must only schedule a repaint on the GUI thread.
    VideoRenderer(Player &player, GetProcAddress getProcAddress, void *procContext,
                  std::function<void()> requestUpdate);
    ~VideoRenderer();
    VideoRenderer(const VideoRenderer &) = delete;
    VideoRenderer &operator=(const VideoRenderer &) = delete;

    bool isValid() const { return m_context != nullptr; }
    void render(int framebuffer, int width, int height);

private:
    static void onUpdate(void *self);

    QPointer<Player> m_player;
    std::shared_ptr<mpv_handle> m_handle; // keeps libmpv alive until the context is gone
    mpv_render_context *m_context = nullptr;
    std::function<void()> m_requestUpdate;
};

} // namespace trimora
