#pragma once

#include "media/Player.h"

#include <QOpenGLWidget>
#include <QPointer>

#include <memory>

namespace trimora {

class VideoRenderer;

// The video surface: shows the player's frames scaled to fit, black around
// them (all black for a movie without video), and nothing else (no controls of
// its own).
class PlayerView : public QOpenGLWidget
{
    Q_OBJECT
public:
    explicit PlayerView(Player *player, QWidget *parent = nullptr);
    ~PlayerView() override;

    Player *player() const { return m_player; }
    // Re-points the surface only when handed a different player object.
    void setPlayer(Player *player);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void followItems();
    void createRenderer();
    void destroyRenderer();

    QPointer<Player> m_player;
    std::unique_ptr<VideoRenderer> m_renderer;
};

} // namespace trimora
