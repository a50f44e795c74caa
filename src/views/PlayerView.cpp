#include "views/PlayerView.h"

#include "media/Player.h"
#include "media/VideoRenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

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
}

PlayerView::~PlayerView()
{
    // The base destructor destroys the context after this part is gone: the
    // slot must not run on a half-destroyed object.
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
    if (context())
        createRenderer();
    update();
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
    if (m_renderer) {
        const qreal ratio = devicePixelRatioF();
        m_renderer->render(static_cast<int>(defaultFramebufferObject()),
                           static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
        return;
    }
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
}
