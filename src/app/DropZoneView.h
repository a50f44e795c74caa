#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVariantAnimation;

namespace trimora {

// The empty window: an icon, "Drop a video file here", "or" and an
// "Open Video…" button inside a dashed rounded border that lights up while a
// file is dragged over it.
class DropZoneView : public QWidget
{
    Q_OBJECT
public:
    explicit DropZoneView(QWidget *parent = nullptr);

    bool isDragTarget() const { return m_isDragTarget; }

Q_SIGNALS:
    void openRequested();
    void urlDropped(const QUrl &url);

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setDragTarget(bool target);
    void updateIcon();

    bool m_isDragTarget = false;
    double m_highlight = 0.0; // 0 = secondary, 1 = accent; animated
    QLabel *m_icon;
    QVariantAnimation *m_animation;
};

} // namespace trimora
