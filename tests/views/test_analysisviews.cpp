#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/ScanRow.h"
#include "views/Theme.h"
#include "views/WaveformView.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using namespace trimora;

namespace {

QImage render(WaveformView &view, int width, int height)
{
    view.resize(width, height);
    return view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Rows of column x whose colour is not the background's.
int barHeight(const QImage &image, int x)
{
    const QRgb background = image.pixel(x, 0);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y)
        rows += image.pixel(x, y) != background;
    return rows;
}

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(int &count) : m_count(count) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        m_count += event->type() == QEvent::Paint;
        return false;
    }

private:
    int &m_count;
};

QPushButton *button(QWidget &row, const QString &text)
{
    for (auto *b : row.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QLabel *label(QWidget &row, const QString &text)
{
    for (auto *l : row.findChildren<QLabel *>())
        if (l->text() == text && !l->isHidden())
            return l;
    return nullptr;
}

} // namespace

class AnalysisViewsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void playedAudioLeftOfTheCentreInWhite()
    {
        WaveformView view;
        view.setSamples(QVector<float>(300, 0.5f));
        view.setStartTime(10.0);
        view.setCurrentTime(15.0);
        const QImage image = render(view, 100, 40);
        const QColor left = image.pixelColor(20, 20);
        const QColor right = image.pixelColor(80, 20);
        // Translucent white over the dark background is grey; the accent is tinted.
        QVERIFY(left.red() == left.green() && left.green() == left.blue());
        QVERIFY(left.red() > 60);
        const QColor accent = Theme::accent();
        QVERIFY2(right.hslSaturation() > 40 && qAbs(right.hslHue() - accent.hslHue()) < 20,
                 qPrintable(right.name() + QStringLiteral(" for accent ") + accent.name()));
        // The centre line (1.5 px at x = 50) is white from top to bottom.
        for (int y : {6, 20, 34})
            QVERIFY(image.pixelColor(50, y).red() > 180 && image.pixelColor(49, y).red() > 180);
        // The background is clipped to a rounded rectangle.
        QVERIFY(image.pixelColor(0, 0).alpha() < 40);
        QVERIFY(image.pixelColor(20, 2).alpha() > 40);
        // Half-height values: bars of 17 px.
        QVERIFY(qAbs(barHeight(image, 20) - 17) <= 1);
        // One column still draws.
        QVERIFY(render(view, 1, 40).pixelColor(0, 20).alpha() > 200);
    }

    // Silence and missing data (left of time 0) draw 1 px; 1.0 fills 85% of 40 px.
    // 266 samples of 8000 Hz a value: 30.08 values a second, not 30. At 9.99 s
    // (column 48 at 10.19 s) the strip shows value 300, where the loud part
    // starts; drawn at 30 a second it would still show value 299.
    void barHeights_data()
    {
        QTest::addColumn<QVector<float>>("samples");
        QTest::addColumn<double>("current");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("expected");
        const QVector<float> silence(300, 0.0f), full(300, 1.0f);
        QVector<float> loudFrom300(400, 0.1f);
        std::fill(loudFrom300.begin() + 300, loudFrom300.end(), 1.0f);
        QTest::newRow("missing data") << silence << 2.0 << 41 << 5 << 1;
        QTest::newRow("silence") << silence << 2.0 << 41 << 80 << 1;
        QTest::newRow("full scale") << full << 2.0 << 40 << 70 << 34;
        QTest::newRow("values at their real rate") << loudFrom300 << 10.19 << 40 << 48 << 34;
    }

    void barHeights()
    {
        QFETCH(QVector<float>, samples);
        QFETCH(double, current);
        QFETCH(int, height);
        QFETCH(int, x);
        WaveformView view;
        view.setSamples(samples);
        view.setStartTime(0.0);
        view.setCurrentTime(current);
        QTEST(barHeight(render(view, 100, height), x), "expected");
    }

    void scanRowFollowsTheModel()
    {
        VideoEditorViewModel model;
        ScanRow row(&model);
        row.show();
        QPushButton *scan = button(row, "Scan B/W Frames");
        QVERIFY(scan && !scan->isHidden());
        QVERIFY(!scan->isEnabled()); // nothing loaded

        model.setIsScanning(true);
        model.setScanProgress(0.999);
        QVERIFY(scan->isHidden());
        QVERIFY(label(row, "99%"));
        QVERIFY(!button(row, "Cancel")->isHidden());
        model.setScanProgress(1.0);
        QVERIFY(label(row, "100%"));

        // The bar moves with the percentage, and only with it: a repaint of
        // the row is a repaint of the whole window.
        auto *bar = row.findChild<QProgressBar *>();
        QVERIFY(bar && !bar->isHidden());
        int paints = 0;
        PaintCounter counter(paints);
        bar->installEventFilter(&counter);
        model.setScanProgress(0.281);
        QTRY_COMPARE(bar->value(), 28);
        QTRY_VERIFY(paints > 0);
        QTest::qWait(50);
        paints = 0;
        model.setScanProgress(0.2849);
        QTest::qWait(50);
        QCOMPARE(paints, 0);
        QVERIFY(label(row, "28%"));

        model.setIsScanning(false);
        model.setHasScanned(true);
        QVERIFY(label(row, "Not Found"));
        QVERIFY(button(row, "◀ Prev")->isHidden());

        model.setBlackWhiteFrames({10.0, 20.0, 30.0});
        QVERIFY(label(row, "3 found"));
        QVERIFY(!label(row, "Not Found"));
        model.setCurrentTime(10.05);
        QVERIFY(!button(row, "◀ Prev")->isEnabled());
        QVERIFY(button(row, "Next ▶")->isEnabled());
        model.setCurrentTime(10.2);
        QVERIFY(button(row, "◀ Prev")->isEnabled());
        model.setCurrentTime(29.95);
        QVERIFY(!button(row, "Next ▶")->isEnabled());

        // Markers left from an earlier scan give way to progress while scanning.
        model.setIsScanning(true);
        QVERIFY(!label(row, "3 found"));
        QVERIFY(button(row, "◀ Prev")->isHidden());
    }
};

QTEST_MAIN(AnalysisViewsTest)
#include "test_analysisviews.moc"
