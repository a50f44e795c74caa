#include "views/EditorView.h"

#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "views/PlayerView.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

EditorView::EditorView(VideoEditorViewModel *viewModel,
                       std::function<void(bool)> setShowFileImporter, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel),
      m_setShowFileImporter(std::move(setShowFileImporter)), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    m_layout->addWidget(divider);

    auto *controls = new QLabel(tr("Controls"), this);
    controls->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(controls, 1);

    connect(m_viewModel, &VideoEditorViewModel::playerChanged, this, &EditorView::syncPlayer);
    syncPlayer();
}

void EditorView::syncPlayer()
{
    Player *player = m_viewModel->player();
    if (!player) {
        delete m_videoArea;
        m_videoArea = nullptr;
        m_playerView = nullptr;
        return;
    }
    if (m_playerView) {
        m_playerView->setPlayer(player);
        return;
    }
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName(QStringLiteral("videoArea"));
    m_videoArea->setMinimumHeight(200);
    m_videoArea->setMaximumHeight(480);
    m_videoArea->setAutoFillBackground(true);
    QPalette black = m_videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_videoArea->setPalette(black);
    auto *area = new QVBoxLayout(m_videoArea);
    area->setContentsMargins(0, 0, 0, 0);
    m_playerView = new PlayerView(player, m_videoArea);
    area->addWidget(m_playerView);
    m_layout->insertWidget(0, m_videoArea, 1);
}
