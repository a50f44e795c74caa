#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

using namespace trimora;

// The keyframes read on load and the steps to the previous and next one, on
// movies whose keyframes are known: every 2 s from the first picture, which
// is at 0 in an MP4 and 0.0213 s after the origin in an MPEG-TS.
class KeyframesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void steps_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("first"); // the first keyframe
        QTest::addColumn<double>("from");
        QTest::addColumn<QString>("steps");            // p: previous, n: next
        QTest::addColumn<QVector<double>>("expected"); // after each step, minus first
        QTest::newRow("mp4 back") << "mx-h264.mp4" << 0.0 << 3.0 << "ppp"
                                  << QVector<double>{2, 0, 0};
        QTest::newRow("mp4 forward")
            << "mx-h264.mp4" << 0.0 << 0.0 << "nnn" << QVector<double>{2, 4, 4};
        // On the keyframe's own picture, the previous one is the one before.
        QTest::newRow("mp4 inside a keyframe's picture")
            << "mx-h264.mp4" << 0.0 << 2.03 << "pn" << QVector<double>{0, 2};
        QTest::newRow("ts") << "mx.ts" << 0.021333 << 3.0 << "ppnnn"
                            << QVector<double>{2, 0, 2, 4, 4};
    }

    void steps()
    {
        QFETCH(QString, file);
        QFETCH(double, first);
        QFETCH(double, from);
        QFETCH(QString, steps);
        QFETCH(QVector<double>, expected);
        VideoEditorViewModel model;
        QSignalSpy ticks(&model, &VideoEditorViewModel::keyframesChanged);
        QVERIFY(loadAndWait(model, file));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        QCOMPARE(model.keyframes().size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(qAbs(model.keyframes()[i] - (first + 2 * i)) < 1e-4);
        QVERIFY(ticks.count() >= 1);
        model.seek(from + first);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (steps[i] == QLatin1Char('p'))
                model.goToPreviousKeyframe();
            else
                model.goToNextKeyframe();
            QVERIFY2(qAbs(model.currentTime() - (first + expected[i])) < 1e-4,
                     qPrintable(QStringLiteral("step %1: %2").arg(i).arg(model.currentTime())));
        }
    }

    void noKeyframesNoSteps()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("mx-audio.m4a")));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        QVERIFY(model.keyframes().isEmpty());
        model.seek(3.0);
        model.goToPreviousKeyframe();
        model.goToNextKeyframe();
        QCOMPARE(model.currentTime(), 3.0);
    }
};

QTEST_MAIN(KeyframesTest)
#include "test_keyframes.moc"
