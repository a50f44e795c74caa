#include "views/PlayerView.h"

#include "media/Player.h"
#include "media/VideoRenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace trimora {

namespace {

void *getProcAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
}

} // namespace

PlayerView::PlayerView(Player *player, QWidget *parent) : QOpenGLWidget(parent), m_player(player)
{
    setAutoFillBackground(false);
    followItems();
}

PlayerView::~PlayerView()
{
    // The base class destroys the context later; this object must not hear of it.
    if (QOpenGLContext *gl = context())
        disconnect(gl, nullptr, this, nullptr);
    destroyRenderer();
}

void PlayerView::setPlayer(Player *player)
{
    if (player == m_player)
        return;
    destroyRenderer();
    m_player = player;
    followItems();
    if (context())
        createRenderer();
    update();
}

void PlayerView::followItems()
{
    // A movie without video brings no new frame that would repaint the
    // surface, and the last one must not stay.
    if (m_player)
        connect(m_player, &Player::itemChanged, this, qOverload<>(&QWidget::update),
                Qt::UniqueConnection);
}

void PlayerView::initializeGL()
{
    // The GL context is re-created when the widget moves between windows.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &PlayerView::destroyRenderer,
            Qt::DirectConnection);
    createRenderer();
}

void PlayerView::createRenderer()
{
    if (!m_player || m_renderer)
        return;
    makeCurrent();
    m_renderer = std::make_unique<VideoRenderer>(*m_player, &getProcAddress, nullptr, [this] {
        // Called on a libmpv thread: only schedule the repaint.
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    });
    doneCurrent();
}

void PlayerView::destroyRenderer()
{
    if (!m_renderer)
        return;
    makeCurrent(); // libmpv frees its GL objects in the context that made them
    m_renderer.reset();
    doneCurrent();
}

void PlayerView::paintGL()
{
    if (m_renderer && m_player && m_player->hasVideo()) {
        const qreal ratio = devicePixelRatioF();
        m_renderer->render(static_cast<int>(defaultFramebufferObject()),
                           static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
        return;
    }
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
}

} // namespace trimora
