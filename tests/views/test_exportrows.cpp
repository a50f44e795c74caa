#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/CommandRow.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/Theme.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

using namespace trimora;

// The output row, command row and log pane against a live model.
class ExportRowsTest : public QObject
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
        QVERIFY(row->commandText().startsWith(QStringLiteral("ffmpeg -n -ss ")));

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

QTEST_MAIN(ExportRowsTest)
#include "test_exportrows.moc"
