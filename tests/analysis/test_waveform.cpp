#include "analysis/WaveformFold.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <random>

using namespace trimora;

namespace {

QVector<float> foldInChunks(const std::vector<std::int16_t> &samples,
                            const std::vector<std::size_t> &cuts)
{
    WaveformFold fold;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        foldSamples(fold, samples.data() + from, cut - from);
        from = cut;
    }
    foldSamples(fold, samples.data() + from, samples.size() - from);
    return finishFold(std::move(fold));
}

} // namespace

class WaveformTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void foldMakesBucketsOf266()
    {
        std::vector<std::int16_t> samples(600, 0);
        samples[10] = 16384;   // bucket 0
        samples[300] = -32768; // bucket 1: just above 1
        samples[599] = 3277;   // bucket 2, the unfinished one of 68 samples
        QCOMPARE(foldInChunks(samples, {}),
                 (QVector<float>{16384.0f / 32767.0f, 32768.0f / 32767.0f, 3277.0f / 32767.0f}));
        QCOMPARE(foldInChunks(std::vector<std::int16_t>(532, 5), {}).size(), 2);
        QCOMPARE(foldInChunks({}, {}).size(), 0);
    }

    // However the decoder cuts its output, a bucket spanning two chunks is one value.
    void chunkBoundariesNeverChangeTheValues()
    {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> sample(-32768, 32767);
        std::vector<std::int16_t> samples(1000);
        for (auto &s : samples)
            s = static_cast<std::int16_t>(sample(random));
        const QVector<float> whole = foldInChunks(samples, {});
        QCOMPARE(whole.size(), 4);
        for (std::size_t cut = 0; cut <= samples.size(); ++cut)
            QCOMPARE(foldInChunks(samples, {cut}), whole);
        std::uniform_int_distribution<std::size_t> position(0, samples.size());
        for (int round = 0; round < 200; ++round) {
            std::vector<std::size_t> cuts(5);
            for (auto &c : cuts)
                c = position(random);
            std::sort(cuts.begin(), cuts.end());
            QCOMPARE(foldInChunks(samples, cuts), whole);
        }
    }

    void readsFollowThePlayhead()
    {
        VideoEditorViewModel model;
        model.loadVideo(QUrl::fromLocalFile(media("movie.mp4")));
        QVERIFY(waitFor([&] { return !model.waveformSamples().isEmpty(); }, 10000));
        QCOMPARE(model.waveformStartTime(), 0.0);
        QCOMPARE(model.waveformSamples().size(), 181); // [0, 6]: 48000 samples, 180 buckets + 1
        QCOMPARE(model.lastWaveformCenter(), 0.0);
        // Exactly 3 s from the last centre is not far enough; a little more is.
        model.updateWaveformIfNeeded(3.0);
        QCOMPARE(model.lastWaveformCenter(), 0.0);
        model.updateWaveformIfNeeded(3.0001);
        QCOMPARE(model.lastWaveformCenter(), 3.0001);
        // The read of [0, 9.0001] still starts at 0.
        QVERIFY(waitFor([&] { return model.waveformSamples().size() > 200; }, 10000));
        QCOMPARE(model.waveformStartTime(), 0.0);
    }

    void seekNearTheEndReadsTheLastWindow()
    {
        VideoEditorViewModel model;
        model.loadVideo(QUrl::fromLocalFile(media("long103.mp4")));
        QVERIFY(waitFor([&] { return !model.waveformSamples().isEmpty(); }, 10000));
        model.seek(100.0);
        QVERIFY(waitFor([&] { return model.waveformStartTime() == 94.0; }, 10000));
        // [94, 103]: 72000 samples, 270 full buckets and a part.
        QVERIFY2(qAbs(model.waveformSamples().size() - 271) <= 1,
                 qPrintable(QString::number(model.waveformSamples().size())));
    }

    // A movie without sound publishes nothing, and neither does a read of
    // another file than the one shown, however late it finishes.
    void onlyTheShownMoviesSoundIsPublished()
    {
        VideoEditorViewModel model;
        QSignalSpy spy(&model, &VideoEditorViewModel::waveformSamplesChanged);
        QVERIFY(loadAndWait(model, QStringLiteral("noaudio.mp4")));
        model.startWaveformRead(QUrl::fromLocalFile(media("movie.mp4")), 6.0, 12.5);
        QTest::qWait(1000);
        QVERIFY(model.waveformSamples().isEmpty());
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_MAIN(WaveformTest)
#include "test_waveform.moc"
