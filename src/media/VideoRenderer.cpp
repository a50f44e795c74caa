#include "media/VideoRenderer.h"

#include "media/Player.h"

#include <mpv/render_gl.h>

namespace trimora {

VideoRenderer::VideoRenderer(Player &player, GetProcAddress getProcAddress, void *procContext,
                             std::function<void()> requestUpdate)
    : m_player(&player), m_handle(player.handle()), m_requestUpdate(std::move(requestUpdate))
{
    if (!m_handle)
        return;
    mpv_opengl_init_params glInit{getProcAddress, procContext};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_context, m_handle.get(), params) < 0) {
        m_context = nullptr;
        return;
    }
    mpv_render_context_set_update_callback(m_context, &VideoRenderer::onUpdate, this);
    player.attachRenderer();
}

VideoRenderer::~VideoRenderer()
{
    if (!m_context)
        return;
    mpv_render_context_set_update_callback(m_context, nullptr, nullptr);
    if (m_player)
        m_player->detachRenderer();
    mpv_render_context_free(m_context);
}

void VideoRenderer::onUpdate(void *self)
{
    static_cast<VideoRenderer *>(self)->m_requestUpdate();
}

void VideoRenderer::render(int framebuffer, int width, int height)
{
    if (!m_context)
        return;
    mpv_opengl_fbo fbo{framebuffer, width, height, 0};
    int flipY = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    (void)mpv_render_context_render(m_context, params);
}

} // namespace trimora
