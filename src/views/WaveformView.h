#pragma once

#include <QVector>
#include <QWidget>

namespace trimora {

// The audio strip around the playhead: one bar per pixel column over
// currentTime ± waveform::shownHalfWindow, played audio in
// translucent white, the rest in the accent colour, a white playhead line in
// the middle. Pure view: the editor feeds it the model's values.
class WaveformView : public QWidget
{
    Q_OBJECT
public:
    explicit WaveformView(QWidget *parent = nullptr);

    void setSamples(const QVector<float> &samples);
    void setStartTime(double seconds);
    void setCurrentTime(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<float> m_samples;
    double m_startTime = 0.0;
    double m_currentTime = 0.0;
};

} // namespace trimora
