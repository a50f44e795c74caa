#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/SourceFrames.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/KeyboardShortcuts.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/Theme.h"
#include "views/TimelineView.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>

using namespace trimora;

// The editor driven from the keyboard, in a real window that has the focus.
namespace {

struct Key
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

bool settled(VideoEditorViewModel &model)
{
    return waitFor([&] { return !model.transport()->player()->isSeeking(); }, 10000);
}

} // namespace

class KeyboardTest : public QObject
{
    Q_OBJECT
    VideoEditorViewModel *load(const QString &name)
    {
        VideoEditorViewModel *model = m_window->content()->viewModel();
        if (!loadAndWait(*model, name) || !settled(*model))
            return nullptr;
        return model;
    }
    void press(const Key &key)
    {
        // Other test programs share the virtual display and may take the
        // activation; the keys act on the active window only.
        if (!m_window->isActiveWindow()) {
            m_window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_window));
        }
        QTest::keyClick(m_window->content()->editor(), key.key, key.modifiers);
    }

    TrimoraApp m_app;
    AppWindow *m_window = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    void init()
    {
        m_window = m_app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }
    void cleanup()
    {
        m_app.closeAllWindows();
        QVERIFY(waitFor([&] { return m_app.windows().isEmpty(); }));
    }

    // On a 6 s movie with a keyframe every 2 s: the keyframes' ticks; from
    // "from" with the marks at In and Out, a key; the playhead and marks at
    // once, and after the landing. Then the keys that play.
    void keysMoveSetMarksAndPlay()
    {
        VideoEditorViewModel *model = load(QStringLiteral("mx-h264.mp4"));
        QVERIFY(model);
        QVERIFY(qAbs(model->movie()->videoDuration() - 6.0) < 1e-6);
        QVERIFY(
            waitFor([&] { return model->movie()->isCutSourceReady(); }, 20000)); // the keyframes
        // Once they are read, a thin tick stands at 2 s and at 4 s, beneath the marks.
        TimelineView *timeline = m_window->content()->editor()->timeline();
        QTest::qWait(50);
        QImage image = grabbed(*timeline);
        const auto xAt = [&](double t) { return int(std::floor(timeline->axis().xAt(t))); };
        const int top = int(timeline->barRect().top());
        const auto near = [](QColor a, QColor b) {
            return qAbs(a.red() - b.red()) <= 6 && qAbs(a.green() - b.green()) <= 6 &&
                   qAbs(a.blue() - b.blue()) <= 6;
        };
        const QColor background = image.pixelColor(xAt(3), top + 9);
        for (double keyframe : {2.0, 4.0}) {
            const QColor tick = image.pixelColor(xAt(keyframe), top + 9);
            QVERIFY2(qAbs(qGray(tick.rgb()) - qGray(background.rgb())) > 40,
                     qPrintable(tick.name() + QStringLiteral(" on ") + background.name()));
            // One pixel wide, and no higher than the handles.
            QVERIFY(near(image.pixelColor(xAt(keyframe) + 1, top + 9), background));
            QVERIFY(
                near(image.pixelColor(xAt(keyframe), top + 1), image.pixelColor(xAt(3), top + 1)));
        }
        // The In handle is drawn over the tick.
        model->segments()->setIn(2.0);
        QTest::qWait(50);
        image = grabbed(*timeline);
        // Antialiased: its core may lie a pixel either side of the time's.
        QVERIFY(near(image.pixelColor(xAt(2.0) - 1, top + 9), Theme::green()) ||
                near(image.pixelColor(xAt(2.0), top + 9), Theme::green()) ||
                near(image.pixelColor(xAt(2.0) + 1, top + 9), Theme::green()));
        struct Row
        {
            const char *what;
            double from, in0, out0;
            Key key;
            double time, in, out;
        };
        const auto shift = Qt::ShiftModifier;
        // clang-format off
        for (const Row &row : {
                 Row{"Shift+→ one second on",   2.5, 0, 6, {Qt::Key_Right, shift}, 3.5, 0,   6},
                 Row{"Shift+← one second back", 2.5, 0, 6, {Qt::Key_Left, shift},  1.5, 0,   6},
                 Row{"Shift+← stops at 0",      0.4, 0, 6, {Qt::Key_Left, shift},  0,   0,   6},
                 Row{"↓ next keyframe",         0.5, 0, 6, {Qt::Key_Down},         2,   0,   6},
                 Row{"↑ previous keyframe",     5.5, 0, 6, {Qt::Key_Up},           4,   0,   6},
                 Row{"Home",                    3.3, 0, 6, {Qt::Key_Home},         0,   0,   6},
                 Row{"End",                     3.3, 0, 6, {Qt::Key_End},          6,   0,   6},
                 Row{"I",                       2.2, 0, 6, {Qt::Key_I},            2.2, 2.2, 6},
                 Row{"O",                       4.1, 0, 6, {Qt::Key_O},            4.1, 0,   4.1},
                 Row{"Shift+I: to In",          3,   1, 5, {Qt::Key_I, shift},     1,   1,   5},
                 Row{"Shift+O: to Out",         3,   1, 5, {Qt::Key_O, shift},     5,   1,   5},
                 // Refused, and said (below).
                 Row{"I after Out",             5.5, 1, 5, {Qt::Key_I},            5.5, 1,   5},
                 Row{"O before In",             0.5, 1, 5, {Qt::Key_O},            0.5, 1,   5}}) {
            // clang-format on
            model->segments()->setIn(row.in0);
            model->segments()->setOut(row.out0);
            model->transport()->seek(row.from);
            press(row.key);
            const auto at = [&] {
                return qAbs(model->transport()->currentTime() - row.time) < 1e-9 &&
                       qAbs(model->segments()->inPoint() - row.in) < 1e-9 &&
                       qAbs(model->segments()->outPoint() - row.out) < 1e-9;
            };
            QVERIFY2(at(), row.what);
            QVERIFY(settled(*model));
            QTest::qWait(50);
            QVERIFY2(at(), row.what); // the landing does not move it
            auto *notice = m_window->content()->findChild<QLabel *>(QStringLiteral("notice"));
            const bool refused =
                QByteArray(row.what).contains("after") || QByteArray(row.what).contains("before");
            QCOMPARE(notice->isVisible(), refused);
            if (refused)
                QCOMPARE(notice->text(), QString::fromLatin1(row.what).contains(QLatin1String("I "))
                                             ? QStringLiteral("In cannot be after Out")
                                             : QStringLiteral("Out cannot be before In"));
            notice->hide();
        }
        // Space plays and pauses; K plays at 1x or pauses; L plays, then doubles up to 4x.
        struct Step
        {
            Qt::Key key;
            bool playing;
            double speed;
        };
        for (const Step &step :
             {Step{Qt::Key_Space, true, 1}, Step{Qt::Key_Space, false, 1}, Step{Qt::Key_K, true, 1},
              Step{Qt::Key_L, true, 2}, Step{Qt::Key_L, true, 4}, Step{Qt::Key_L, true, 4},
              Step{Qt::Key_K, false, 1}, Step{Qt::Key_L, true, 1}, Step{Qt::Key_L, true, 2},
              Step{Qt::Key_Space, false, 1}}) {
            press({step.key});
            QCOMPARE(model->transport()->isPlaying(), step.playing);
            QCOMPARE(model->transport()->playbackSpeed(), step.speed);
        }
        // + (or =) and - zoom the timeline by two, 0 shows the whole movie.
        const double whole = timeline->axis().span();
        for (const auto &[key, span] : {std::pair{Qt::Key_Plus, whole / 2},
                                        {Qt::Key_Equal, whole / 4},
                                        {Qt::Key_Minus, whole / 2},
                                        {Qt::Key_0, whole}}) {
            press({key});
            QVERIFY(qAbs(timeline->axis().span() - span) < 1e-9);
        }
    }

    void arrowsStepFromTheFrameOnShow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("25 fps") << "mx-h264.mp4";
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4";
        QTest::newRow("MPEG-TS starting at 11.4 s") << "mx-offset10.ts";
    }

    void arrowsStepFromTheFrameOnShow()
    {
        QFETCH(QString, name);
        const SourceFrames source = decodeSourceFrames(name);
        QVERIFY(source.isValid());
        VideoEditorViewModel *model = load(name);
        QVERIFY(model);
        model->transport()->seek(1.0);
        QVERIFY(settled(*model));
        const int start = source.frameAt(1.0);
        QCOMPARE(source.shownBy(*model->transport()->player()), start);
        for (const auto &[key, presses, expected] :
             {std::tuple{Qt::Key_Right, 1, 1}, std::tuple{Qt::Key_Right, 5, 6},
              std::tuple{Qt::Key_Left, 2, 4}}) {
            for (int i = 0; i < presses; ++i)
                press({key});
            QVERIFY(settled(*model));
            QVERIFY2(qAbs(model->transport()->currentTime() - source.times[start + expected]) <
                         1e-4,
                     qPrintable(QStringLiteral("%1, frame at %2 expected")
                                    .arg(model->transport()->currentTime())
                                    .arg(source.times[start + expected])));
            QCOMPARE(source.shownBy(*model->transport()->player()), start + expected);
        }
        // Keys typed faster than the steps land act in order, each on the frame
        // the keys before it land on.
        for (const Key &key : {Key{Qt::Key_Right}, Key{Qt::Key_Right}, Key{Qt::Key_Right},
                               Key{Qt::Key_I}, Key{Qt::Key_Right, Qt::ShiftModifier},
                               Key{Qt::Key_Left}, Key{Qt::Key_Left}, Key{Qt::Key_O}})
            press(key);
        QVERIFY(settled(*model));
        QVERIFY2(qAbs(model->segments()->inPoint() - source.times[start + 7]) < 1e-4,
                 qPrintable(QString::number(model->segments()->inPoint())));
        const int out = source.frameAt(source.times[start + 7] + 1.0) - 2;
        QVERIFY2(qAbs(model->segments()->outPoint() - source.times[out]) < 1e-4,
                 qPrintable(QString::number(model->segments()->outPoint())));
        QCOMPARE(source.shownBy(*model->transport()->player()), out);
        // Playing, an arrow pauses first.
        press({Qt::Key_Space});
        QVERIFY(model->transport()->isPlaying());
        QTest::qWait(300);
        press({Qt::Key_Right});
        QVERIFY(!model->transport()->isPlaying());
        QVERIFY(settled(*model));
        QTest::qWait(100);
        const int shown = source.shownBy(*model->transport()->player());
        QVERIFY(qAbs(model->transport()->currentTime() - source.times[shown]) < 1e-4);
    }

    void keysAreTheFieldsWhileTyping()
    {
        VideoEditorViewModel *model = load(QStringLiteral("mx-h264.mp4"));
        QVERIFY(model);
        model->transport()->seek(2.0);
        QVERIFY(settled(*model));
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        QLineEdit *field = m_window->findChild<OutputRow *>()->pathField();
        field->setFocus();
        QVERIFY(waitFor([&] { return field->hasFocus(); }));
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("/tmp/KLIO take 2.mp4"));
        for (const Key &key :
             {Key{Qt::Key_Home}, Key{Qt::Key_End}, Key{Qt::Key_Left},
              Key{Qt::Key_Right, Qt::ShiftModifier}, Key{Qt::Key_Up}, Key{Qt::Key_Down},
              Key{Qt::Key_I, Qt::ShiftModifier}, Key{Qt::Key_E, Qt::ControlModifier},
              Key{Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier}})
            QTest::keyClick(field, key.key, key.modifiers);
        // The letters and the space were typed, the keys moved the cursor there.
        QVERIFY2(model->exports()->outputPath().startsWith(QStringLiteral("/tmp/KLIO take 2.mp")) &&
                     model->exports()->outputPath().endsWith(QLatin1Char('i'), Qt::CaseInsensitive),
                 qPrintable(model->exports()->outputPath()));
        QCOMPARE(model->transport()->currentTime(), 2.0);
        QCOMPARE(model->segments()->inPoint(), 0.0);
        QCOMPARE(model->segments()->outPoint(), model->movie()->videoDuration());
        QVERIFY(!model->transport()->isPlaying());
        QVERIFY(!model->exports()->isProcessing());
        QVERIFY(model->exports()->logOutput().isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));

        // Return, Enter or Esc ends the typing: the keys are the editor's again.
        const auto focused = [&]() -> QWidget * {
            return QApplication::focusWidget() ? QApplication::focusWidget() : m_window;
        };
        for (const Qt::Key end : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            field->setFocus();
            QVERIFY(waitFor([&] { return field->hasFocus(); }));
            QTest::keyClick(field, end);
            QVERIFY(!field->hasFocus());
            model->segments()->setIn(0.0);
            QTest::keyClick(focused(), Qt::Key_I);
            QCOMPARE(model->segments()->inPoint(), 2.0);
        }

        // Nobody types into the log: after a click there the keys stay the
        // editor's. Its text is copied with the copy key.
        auto *log = m_window->findChild<LogPane *>();
        model->exports()->setLogOutput(QStringLiteral("❌ Failed: no space left on device"));
        QTest::mouseClick(log->viewport(), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_O);
        QCOMPARE(model->segments()->outPoint(), 2.0);
        log->selectAll();
        QTest::keyClick(focused(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), model->exports()->logOutput());
        model->exports()->setLogOutput(QString());

        // Nor after a click on a button that the click hides: the focus must not
        // pass on to the output field, where the next key would replace the path.
        const QString path = model->exports()->outputPath();
        QAbstractButton *scan = nullptr;
        for (QAbstractButton *button : m_window->findChildren<QAbstractButton *>())
            if (button->text() == QStringLiteral("Scan B/W Frames"))
                scan = button;
        QVERIFY(scan);
        QTest::mouseClick(scan, Qt::LeftButton);
        QVERIFY(waitFor(
            [&] { return model->analysis()->hasScanned() && !model->analysis()->isScanning(); },
            20000));
        model->transport()->seek(3.0);
        QVERIFY(settled(*model));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : m_window,
                        Qt::Key_O);
        QCOMPARE(model->exports()->outputPath(), path);
        QCOMPARE(model->segments()->outPoint(), 3.0);
    }

    void exportCopyOpenAndHelp()
    {
        VideoEditorViewModel *model = load(QStringLiteral("clip1s.mp4"));
        QVERIFY(model);
        QTemporaryDir out;
        model->exports()->setOutputPath(out.filePath(QStringLiteral("cut.mp4")));

        press({Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier});
        QCOMPARE(QGuiApplication::clipboard()->text(), model->exports()->commandPreview());

        press({Qt::Key_E, Qt::ControlModifier});
        QVERIFY(waitFor(
            [&] {
                return !model->exports()->logOutput().isEmpty() &&
                       !model->exports()->isProcessing();
            },
            30000));
        QVERIFY(QFileInfo::exists(out.filePath(QStringLiteral("cut.mp4"))));

        // Open works from the menu's key, on the drop zone as on the editor.
        QTest::keyClick(m_window, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(waitFor([&] { return m_window->content()->fileDialog() != nullptr; }));
        m_window->content()->setShowFileImporter(false);

        // Help ▸ Keyboard Shortcuts lists every key with what it does.
        QAction *help = nullptr;
        for (QAction *menu : m_window->menuBar()->actions())
            for (QAction *item : menu->menu()->actions())
                if (item->text() == QStringLiteral("Keyboard Shortcuts"))
                    help = item;
        QVERIFY(help);
        help->trigger();
        QVERIFY(m_window->shortcutsWindow());
        QVERIFY(QTest::qWaitForWindowExposed(m_window->shortcutsWindow()));
        QVERIFY(m_window->shortcutsWindow()->findChild<QTableWidget *>()->rowCount() >= 13);
    }
};

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
