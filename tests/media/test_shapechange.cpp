#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"
#include "support/TestSupport.h"

#include <QFile>

using namespace trimora;

namespace {

struct Read
{
    AudioReadStatus status = AudioReadStatus::NotStarted;
    std::size_t samples = 0;
    QVector<float> peaks;
};

Read readAll(const QString &name)
{
    Read read;
    WaveformFold fold;
    read.status = readAudioRange(
        QFile::encodeName(media(name)).toStdString(), 0.0, 10.0, waveform::readRate,
        [&](const std::int16_t *samples, std::size_t count) {
            read.samples += count;
            foldSamples(fold, samples, count);
        },
        [] { return false; });
    read.peaks = finishFold(std::move(fold));
    return read;
}

} // namespace

// A decoder may change channel layout or sample rate between frames; the
// reader must follow, not read planes that are not there or mistime samples.
class ShapeChangeTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void channelCountDropsMidStream()
    {
        const Read read = readAll("stereo-then-mono.mp3");
        QCOMPARE(read.status, AudioReadStatus::Finished);
        // Two halves of 0.5 s, plus the encoders' padding.
        QVERIFY2(read.samples >= 7600 && read.samples <= 11000,
                 qPrintable(QString::number(read.samples)));
        // The tone (amplitude 1/8) is heard in the mono half too.
        const qsizetype n = read.peaks.size();
        QVERIFY(n > 10);
        QVERIFY(*std::max_element(read.peaks.begin() + n / 2, read.peaks.end() - 2) > 0.05f);
    }

    void sampleRateRisesMidStream()
    {
        // Resampled as 8 kHz input, the 22.05 kHz half would last 1.4 s.
        const Read read = readAll("rate-change.mp3");
        QCOMPARE(read.status, AudioReadStatus::Finished);
        QVERIFY2(read.samples >= 7600 && read.samples <= 11000,
                 qPrintable(QString::number(read.samples)));
    }
};

QTEST_MAIN(ShapeChangeTest)
#include "test_shapechange.moc"
