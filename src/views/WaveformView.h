#pragma once

#include <QVector>
#include <QWidget>

// Placeholder: the audio strip around the playhead. Pure view: the editor
// feeds it the model's values through the setters.
class WaveformView : public QWidget
{
    Q_OBJECT
public:
    explicit WaveformView(QWidget *parent = nullptr);

    void setSamples(const QVector<float> &samples);
    void setStartTime(double seconds);
    void setCurrentTime(double seconds);
    void setSampleRate(double valuesPerSecond);
    void setWindowSeconds(double seconds);

private:
    QVector<float> m_samples;
    double m_startTime = 0.0;
    double m_currentTime = 0.0;
    double m_sampleRate = 30.0;
    double m_windowSeconds = 5.0;
};
