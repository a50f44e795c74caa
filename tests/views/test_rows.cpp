#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/CommandRow.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/ScanRow.h"
#include "views/Theme.h"
#include "views/WaveformView.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

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

// The rows under the picture against a live model: the waveform strip and
// the scan row, the output row, command row and log pane.
class RowsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Puts the row into a shown window of its own.
    template <class Row> static Row *shown(QWidget &window, VideoEditorViewModel &model)
    {
        auto *row = new Row(&model, &window);
        (new QVBoxLayout(&window))->addWidget(row);
        window.show();
        return row;
    }

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
    // Export is enabled by a path and disabled while the tool runs: a click
    // returns at once, and the button comes back when the tool is done.
    void exportButtonFollowsPathAndProcessing()
    {
        VideoEditorViewModel model;
        model.ffmpegLocationsForTesting = QStringList{writeStandIn(
            m_dir.path(), QStringLiteral("slow"),
            "sleep 0.3\n" + standInWrites(QStringLiteral("clip1s.mp4")) + "echo done >&2")};
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/in.mp4")));
        QWidget window;
        auto *row = shown<OutputRow>(window, model);
        QVERIFY(!row->exportButton()->isEnabled()); // empty path
        QTest::keyClicks(row->pathField(), QStringLiteral("/tmp/a.mp4"));
        QCOMPARE(model.outputPath(), QStringLiteral("/tmp/a.mp4")); // every keystroke
        QVERIFY(row->exportButton()->isEnabled());
        model.setOutputPath(m_dir.path() + QStringLiteral("/out.mp4"));
        QCOMPARE(row->pathField()->text(), model.outputPath());

        QTest::mouseClick(row->exportButton(), Qt::LeftButton);
        QVERIFY(model.isProcessing());
        QVERIFY(!row->exportButton()->isEnabled());
        QVERIFY(row->busyIndicator()->isVisible());
        QVERIFY(waitFor([&] { return row->exportButton()->isEnabled(); }, 20000));
        QVERIFY(!row->busyIndicator()->isVisible());
        QCOMPARE(model.logOutput(), QStringLiteral("done\n\n✅ Completed successfully"));
    }

    // Browse… starts in the output's folder with its name proposed, never asks
    // to replace a file (an export takes the next free name), and writes the
    // choice to the model; cancelling changes nothing.
    void browseChoosesTheOutputPath()
    {
        VideoEditorViewModel model;
        model.setOutputPath(m_dir.filePath(QStringLiteral("clip_cut_1.mp4")));
        QWidget window;
        auto *row = shown<OutputRow>(window, model);
        for (const bool accept : {true, false}) {
            QTest::mouseClick(row->browseButton(), Qt::LeftButton);
            QPointer<QFileDialog> dialog = row->saveDialog();
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
            QVERIFY(!dialog->testOption(QFileDialog::ReadOnly)); // folders can be made
            QCOMPARE(dialog->directory().absolutePath(), QDir(m_dir.path()).absolutePath());
            QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(),
                     QFileInfo(model.outputPath()).fileName());
            dialog->selectFile(m_dir.filePath(accept ? QStringLiteral("chosen.mov")
                                                     : QStringLiteral("other.mov")));
            if (accept)
                QMetaObject::invokeMethod(dialog, "accept");
            else
                dialog->reject();
            QVERIFY(waitFor([&] { return dialog.isNull(); }));
            QCOMPARE(model.outputPath(), m_dir.filePath(QStringLiteral("chosen.mov")));
        }
    }

    void commandRowFollowsPathAndCopiesExactly()
    {
        VideoEditorViewModel model;
        model.ffmpegLocationsForTesting = QStringList{m_dir.path() + QStringLiteral("/none")};
        model.setSourceURL(QUrl::fromLocalFile(QStringLiteral("/My Movies/it's.mov")));
        QWidget window;
        auto *row = shown<CommandRow>(window, model);
        QVERIFY(row->isHidden());

        model.setOutputPath(QStringLiteral("/out/cut.mov"));
        QVERIFY(!row->isHidden());
        QCOMPARE(row->commandText(), model.commandPreview());
        QVERIFY(row->commandText().startsWith(QStringLiteral("ffmpeg -hide_banner -n -ss ")));

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QTest::mouseClick(row->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), model.commandPreview());

        model.setInPointValue(0.5);
        QCOMPARE(row->commandText(), model.commandPreview());
        const int lineHeight = row->commandView()->fontMetrics().lineSpacing();
        QVERIFY(row->commandView()->height() <= 3 * lineHeight);

        model.setOutputPath(QString());
        QVERIFY(row->isHidden());
    }

    // The pane follows the log to its end. Laying out one enormous line takes
    // seconds per append: rewritten progress lines and endless output are
    // shown as lines of bounded length, while the model keeps the text as it came.
    void logPaneAppendsScrollsAndBreaksLines()
    {
        VideoEditorViewModel model;
        QWidget window;
        window.resize(400, 200);
        auto *pane = shown<LogPane>(window, model);
        QVERIFY(pane->isReadOnly());
        QString expected;
        for (int i = 0; i < 300; ++i) {
            const QString chunk = QStringLiteral("frame=%1 fps=0.0 é\n").arg(i);
            model.appendLog(chunk);
            expected += chunk;
        }
        QCOMPARE(pane->toPlainText(), expected);
        QScrollBar *bar = pane->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        model.setLogOutput(QString()); // a new export starts
        QCOMPARE(pane->toPlainText(), QString());
        model.appendLog(QStringLiteral("frame=1\rframe=2\r"));
        model.appendLog(QStringLiteral("\nnext\r\nla"));
        model.appendLog(QStringLiteral("st"));
        QCOMPARE(pane->toPlainText(), QStringLiteral("frame=1\nframe=2\nnext\nlast"));
        QCOMPARE(model.logOutput(), QStringLiteral("frame=1\rframe=2\r\nnext\r\nlast"));

        model.setLogOutput(QString());
        const QString endless =
            QString(2999, QLatin1Char('x')) + QStringLiteral("😀") + QString(997, QLatin1Char('y'));
        model.appendLog(endless.left(1200));
        model.appendLog(endless.mid(1200));
        const QStringList lines = pane->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.join(QString()), endless);
        for (const QString &line : lines)
            QVERIFY(line.size() <= 1001);
        QVERIFY(lines.size() >= 4);
        QVERIFY(!pane->toPlainText().contains(QStringLiteral("\uFFFD")));
    }

    // The status marks show on a desktop without an emoji font (this one has
    // none): a green square for success, a red cross for failure.
    void statusMarksShowWithoutAnEmojiFont()
    {
        VideoEditorViewModel model;
        model.setLogOutput(QStringLiteral("✅ Completed successfully\n❌ Failed (exit code: 1)"));
        QWidget window;
        window.resize(400, 200);
        auto *pane = shown<LogPane>(window, model);
        QVERIFY(showExposed(&window));
        const QImage image = grabbed(*pane);
        const int lineHeight = pane->fontMetrics().lineSpacing();
        const auto count = [&](const QColor &colour, int line) {
            int n = 0;
            for (int y = 6 + line * lineHeight; y < 6 + (line + 1) * lineHeight; ++y)
                for (int x = 0; x < 40; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    n += qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) +
                             qAbs(c.blue() - colour.blue()) <
                         40;
                }
            return n;
        };
        QVERIFY2(count(Theme::green(), 0) > 20, "no green mark on the first line");
        QVERIFY2(count(Theme::red(), 1) > 10, "no red cross on the second line");
        QCOMPARE(count(Theme::red(), 0), 0);
    }
};

QTEST_MAIN(RowsTest)
#include "test_rows.moc"
