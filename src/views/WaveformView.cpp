#include "views/WaveformView.h"

WaveformView::WaveformView(QWidget *parent) : QWidget(parent)
{}

void WaveformView::setSamples(const QVector<float> &samples)
{
    m_samples = samples;
    update();
}

void WaveformView::setStartTime(double seconds)
{
    m_startTime = seconds;
    update();
}

void WaveformView::setCurrentTime(double seconds)
{
    m_currentTime = seconds;
    update();
}

void WaveformView::setSampleRate(double valuesPerSecond)
{
    m_sampleRate = valuesPerSecond;
    update();
}

void WaveformView::setWindowSeconds(double seconds)
{
    m_windowSeconds = seconds;
    update();
}
