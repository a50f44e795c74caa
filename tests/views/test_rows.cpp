#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/CommandRow.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/ScanRow.h"
#include "views/SegmentListView.h"
#include "views/Theme.h"
#include "views/WaveformView.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
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
        auto *row = new Row(model.exports(), &window);
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

        model.analysis()->setIsScanning(true);
        model.analysis()->setScanProgress(0.999);
        QVERIFY(scan->isHidden());
        QVERIFY(label(row, "99%"));
        QVERIFY(!button(row, "Cancel")->isHidden());
        model.analysis()->setScanProgress(1.0);
        QVERIFY(label(row, "100%"));

        // The bar moves with the percentage, and only with it: a repaint of
        // the row is a repaint of the whole window.
        auto *bar = row.findChild<QProgressBar *>();
        QVERIFY(bar && !bar->isHidden());
        int paints = 0;
        PaintCounter counter(paints);
        bar->installEventFilter(&counter);
        model.analysis()->setScanProgress(0.281);
        QTRY_COMPARE(bar->value(), 28);
        QTRY_VERIFY(paints > 0);
        QTest::qWait(50);
        paints = 0;
        model.analysis()->setScanProgress(0.2849);
        QTest::qWait(50);
        QCOMPARE(paints, 0);
        QVERIFY(label(row, "28%"));

        model.analysis()->setIsScanning(false);
        model.analysis()->setHasScanned(true);
        QVERIFY(label(row, "Not Found"));
        QVERIFY(button(row, "◀ Prev")->isHidden());

        model.analysis()->setBlackWhiteFrames({10.0, 20.0, 30.0});
        QVERIFY(label(row, "3 found"));
        QVERIFY(!label(row, "Not Found"));
        model.transport()->setCurrentTime(10.05);
        QVERIFY(!button(row, "◀ Prev")->isEnabled());
        QVERIFY(button(row, "Next ▶")->isEnabled());
        model.transport()->setCurrentTime(10.2);
        QVERIFY(button(row, "◀ Prev")->isEnabled());
        model.transport()->setCurrentTime(29.95);
        QVERIFY(!button(row, "Next ▶")->isEnabled());

        // Markers left from an earlier scan give way to progress while scanning.
        model.analysis()->setIsScanning(true);
        QVERIFY(!label(row, "3 found"));
        QVERIFY(button(row, "◀ Prev")->isHidden());
    }
    // Export is enabled by a path and disabled while the tool runs: a click
    // returns at once, and the button comes back when the tool is done.
    // The list is the segments, under each what a copy of it holds; a click
    // selects and moves the playhead to the In, an edited label is the
    // segment's, and the files choice is the export's.
    void segmentListIsAViewOfTheSegments()
    {
        VideoEditorViewModel model;
        pretendLoaded(model, QUrl::fromLocalFile(QStringLiteral("/in.mp4")), 12.5);
        model.exports()->setOutputPath(m_dir.filePath(QStringLiteral("o.mp4")));
        model.segments()->splitAt(4.0);
        model.segments()->splitAt(8.0);
        QWidget window;
        auto *list = new SegmentListView(&model, &window);
        (new QVBoxLayout(&window))->addWidget(list);
        window.resize(500, 400);
        QVERIFY(showExposed(&window));
        QTableView *table = list->table();
        QCOMPARE(table->model()->rowCount(), 6);
        const auto cell = [&](int row, int column) {
            return table->model()->index(row, column).data().toString();
        };
        QCOMPARE(cell(2, SegmentListView::In), QStringLiteral("00:00:04.000"));
        QCOMPARE(cell(2, SegmentListView::Length), QStringLiteral("00:00:04.000"));
        QCOMPARE(cell(3, SegmentListView::Number), model.exports()->copyNote(1));
        QVERIFY(table->columnSpan(3, 0) == SegmentListView::ColumnCount);

        const QRect note = table->visualRect(table->model()->index(1, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, note.center());
        QCOMPARE(model.segments()->selected(), 0);
        QTest::mouseClick(
            table->viewport(), Qt::LeftButton, {},
            table->visualRect(table->model()->index(4, SegmentListView::Out)).center());
        QCOMPARE(model.segments()->selected(), 2);
        QCOMPARE(model.transport()->currentTime(), 8.0);

        QVERIFY(table->model()->setData(table->model()->index(2, SegmentListView::Label),
                                        QStringLiteral("  advert  "), Qt::EditRole));
        QCOMPARE(model.segments()->list().segments[1].label, QStringLiteral("advert"));
        model.segments()->undoStack()->undo();
        QCOMPARE(cell(2, SegmentListView::Label), QString());

        list->filesChoice()->setCurrentIndex(1);
        Q_EMIT list->filesChoice()->activated(1);
        QVERIFY(model.exports()->choice().joined);
        list->cutAwayBox()->click();
        QVERIFY(model.exports()->choice().cutAway);
        QVERIFY(!list->filesChoice()->isEnabled());
    }

    void exportButtonFollowsPathAndProcessing()
    {
        VideoEditorViewModel model;
        model.exports()->ffmpegLocationsForTesting = QStringList{writeStandIn(
            m_dir.path(), QStringLiteral("slow"),
            "sleep 0.3\n" + standInWrites(QStringLiteral("clip1s.mp4")) + "echo done >&2")};
        pretendLoaded(model, QUrl::fromLocalFile(QStringLiteral("/in.mp4")), 1.0);
        QWidget window;
        auto *row = shown<OutputRow>(window, model);
        QVERIFY(!row->exportButton()->isEnabled()); // empty path
        QTest::keyClicks(row->pathField(), QStringLiteral("/tmp/a.mp4"));
        QCOMPARE(model.exports()->outputPath(), QStringLiteral("/tmp/a.mp4")); // every keystroke
        QVERIFY(row->exportButton()->isEnabled());
        model.exports()->setOutputPath(m_dir.path() + QStringLiteral("/out.mp4"));
        QCOMPARE(row->pathField()->text(), model.exports()->outputPath());

        QTest::mouseClick(row->exportButton(), Qt::LeftButton);
        QVERIFY(model.exports()->isProcessing());
        QVERIFY(!row->exportButton()->isEnabled());
        QVERIFY(row->busyIndicator()->isVisible());
        QVERIFY(waitFor([&] { return row->exportButton()->isEnabled(); }, 20000));
        QVERIFY(!row->busyIndicator()->isVisible());
        QCOMPARE(model.exports()->logOutput(), QStringLiteral("done\n\n✅ Completed successfully"));
    }

    // Browse… starts in the output's folder with its name proposed, never asks
    // to replace a file (an export takes the next free name), and writes the
    // choice to the model; cancelling changes nothing.
    void browseChoosesTheOutputPath()
    {
        VideoEditorViewModel model;
        model.exports()->setOutputPath(m_dir.filePath(QStringLiteral("clip_cut_1.mp4")));
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
                     QFileInfo(model.exports()->outputPath()).fileName());
            dialog->selectFile(m_dir.filePath(accept ? QStringLiteral("chosen.mov")
                                                     : QStringLiteral("other.mov")));
            if (accept)
                QMetaObject::invokeMethod(dialog, "accept");
            else
                dialog->reject();
            QVERIFY(waitFor([&] { return dialog.isNull(); }));
            QCOMPARE(model.exports()->outputPath(), m_dir.filePath(QStringLiteral("chosen.mov")));
        }
    }

    void commandRowFollowsPathAndCopiesExactly()
    {
        VideoEditorViewModel model;
        model.exports()->ffmpegLocationsForTesting =
            QStringList{m_dir.path() + QStringLiteral("/none")};
        pretendLoaded(model, QUrl::fromLocalFile(QStringLiteral("/My Movies/it's.mov")), 12.5);
        QWidget window;
        auto *row = shown<CommandRow>(window, model);
        QVERIFY(row->isHidden());

        model.exports()->setOutputPath(QStringLiteral("/out/cut.mov"));
        QVERIFY(!row->isHidden());
        QCOMPARE(row->commandText(), model.exports()->commandPreview());
        QVERIFY(row->commandText().startsWith(QStringLiteral("ffmpeg -hide_banner -n -ss ")));

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QTest::mouseClick(row->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), model.exports()->commandPreview());

        model.segments()->setIn(0.5);
        QCOMPARE(row->commandText(), model.exports()->commandPreview());
        const int lineHeight = row->commandView()->fontMetrics().lineSpacing();
        QVERIFY(row->commandView()->height() <= 3 * lineHeight);

        model.exports()->setOutputPath(QString());
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
            model.exports()->appendLog(chunk);
            expected += chunk;
        }
        QCOMPARE(pane->toPlainText(), expected);
        QScrollBar *bar = pane->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        model.exports()->setLogOutput(QString()); // a new export starts
        QCOMPARE(pane->toPlainText(), QString());
        model.exports()->appendLog(QStringLiteral("frame=1\rframe=2\r"));
        model.exports()->appendLog(QStringLiteral("\nnext\r\nla"));
        model.exports()->appendLog(QStringLiteral("st"));
        QCOMPARE(pane->toPlainText(), QStringLiteral("frame=1\nframe=2\nnext\nlast"));
        QCOMPARE(model.exports()->logOutput(), QStringLiteral("frame=1\rframe=2\r\nnext\r\nlast"));

        model.exports()->setLogOutput(QString());
        const QString endless =
            QString(2999, QLatin1Char('x')) + QStringLiteral("😀") + QString(997, QLatin1Char('y'));
        model.exports()->appendLog(endless.left(1200));
        model.exports()->appendLog(endless.mid(1200));
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
        model.exports()->setLogOutput(
            QStringLiteral("✅ Completed successfully\n❌ Failed (exit code: 1)"));
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
