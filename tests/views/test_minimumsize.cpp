#include "app/ContentView.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/CommandRow.h"
#include "views/EditorView.h"
#include "views/LogPane.h"
#include "views/PlayerView.h"
#include "views/TimelineView.h"
#include "views/WaveformView.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QScrollBar>

using namespace trimora;

// The editor at the smallest window size: every control whole, inside the
// window and clear of the others, and nothing moving when the command row
// comes and goes. Checked by geometry; the screenshot is kept for a look.
namespace {

QList<QWidget *> controls(QWidget *root)
{
    QList<QWidget *> found;
    for (QWidget *w : root->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(root))
            continue;
        const auto *label = qobject_cast<QLabel *>(w);
        if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
            qobject_cast<TimelineView *>(w) || qobject_cast<WaveformView *>(w) ||
            qobject_cast<LogPane *>(w) || qobject_cast<CommandRow *>(w) ||
            (label && !label->text().isEmpty()))
            found.append(w);
    }
    return found;
}

QRect rectIn(QWidget *w, QWidget *root)
{
    return {w->mapTo(root, QPoint(0, 0)), w->size()};
}

// Whether an ancestor clips part of the widget away.
QString clipped(QWidget *w, QWidget *root)
{
    for (QWidget *a = w->parentWidget(); a && a != root->parentWidget(); a = a->parentWidget()) {
        if (!rectIn(a, root).contains(rectIn(w, root)))
            return QStringLiteral("cut by %1").arg(a->metaObject()->className());
    }
    return {};
}

QString describe(QWidget *w)
{
    QString text;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        text = b->text().isEmpty() ? b->objectName() : b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        text = l->text();
    return QStringLiteral("%1 \"%2\"").arg(w->metaObject()->className(), text);
}

} // namespace

class MinimumSizeTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::SilentSurface); }

    void everyControlIsWholeAtTheMinimum()
    {
        ContentView window;
        window.resize(640, 480);
        QVERIFY(showExposed(&window));
        QCOMPARE(window.size(), QSize(640, 480));
        VideoEditorViewModel *model = window.viewModel();
        // A long path makes the command as long as it gets: three lines.
        QVERIFY(loadAndWait(*model, QStringLiteral("mx-multi.mkv")));
        model->setOutputPath(QDir::tempPath() + QStringLiteral("/a/rather/long/folder/name/for/"
                                                               "the/output/of/this/cut.mkv"));
        QTest::qWait(200);
        EditorView *editor = window.editor();
        grabbed(window).save(QDir::temp().filePath(QStringLiteral("trimora-minimum.png")));

        const QList<QWidget *> all = controls(editor);
        QVERIFY(all.size() > 25);
        for (QWidget *w : all) {
            const QRect r = rectIn(w, &window);
            QVERIFY2(window.rect().contains(r),
                     qPrintable(describe(w) + QStringLiteral(" outside")));
            QVERIFY2(clipped(w, &window).isEmpty(),
                     qPrintable(describe(w) + QLatin1Char(' ') + clipped(w, &window)));
            const QSize least = w->minimumSizeHint();
            if (!qobject_cast<LogPane *>(w) && !qobject_cast<QLineEdit *>(w) && least.isValid())
                QVERIFY2(w->width() >= least.width() && w->height() >= least.height(),
                         qPrintable(describe(w) + QStringLiteral(" squeezed")));
            for (QWidget *other : all) {
                if (other == w || other->isAncestorOf(w) || w->isAncestorOf(other))
                    continue;
                QVERIFY2(!r.intersects(rectIn(other, &window)),
                         qPrintable(describe(w) + QStringLiteral(" overlaps ") + describe(other)));
            }
        }
        // The waveform has room to show something, the log its last lines.
        QVERIFY(editor->waveform()->width() >= 60 && editor->waveform()->height() >= 24);
        auto *log = editor->findChild<LogPane *>();
        QVERIFY(log->viewport()->height() >= 3 * log->fontMetrics().lineSpacing() + 12);
        QVERIFY(editor->playerView()->height() >= 80);

        // The command row goes when the path is cleared: nothing else moves.
        auto *commandRow = editor->findChild<CommandRow *>();
        QVERIFY(commandRow->isVisible());
        QMap<QWidget *, QRect> before;
        for (QWidget *w : all)
            before.insert(w, rectIn(w, &window));
        model->setOutputPath(QString());
        QTest::qWait(100);
        QVERIFY(!commandRow->isVisible());
        for (QWidget *w : all) {
            if (w->isVisible())
                QVERIFY2(rectIn(w, &window) == before.value(w),
                         qPrintable(describe(w) + QStringLiteral(" moved")));
        }
    }
};

QTEST_MAIN(MinimumSizeTest)
#include "test_minimumsize.moc"
