#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

namespace trimora {

class SoundOverview;

// The loudness of the whole movie in one strip under the timeline, filled in
// as it is read: silences are gaps, loud parts tall. The part the timeline
// shows is framed, the playhead a white line; a press or drag moves the
// playhead there.
class SoundOverviewView : public QWidget
{
    Q_OBJECT
public:
    explicit SoundOverviewView(QWidget *parent = nullptr);

    void setOverview(SoundOverview *overview);
    void setDuration(double seconds);
    void setPlayhead(double seconds);
    // The part of the movie the timeline shows; framed unless it is all of it.
    void setShown(double start, double end);

    // Height of the bar for a level (0 to 1) in a strip of the given height:
    // on a scale of decibels, so that quiet sound still shows.
    static double barHeight(float level, double height);

    QSize sizeHint() const override;

Q_SIGNALS:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    double xAt(double t) const;
    void seekTo(double x);
    void renderBars();

    QPointer<SoundOverview> m_overview;
    double m_duration = 0.0;
    double m_playhead = 0.0;
    double m_shownStart = 0.0;
    double m_shownEnd = 0.0;
    // The bars, drawn again only when levels or size change: the playhead
    // moves twenty times a second.
    QImage m_bars;
    bool m_barsStale = true;
};

} // namespace trimora
