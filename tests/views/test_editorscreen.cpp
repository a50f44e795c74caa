#include "app/ContentView.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/PlayerView.h"
#include "views/TimeFormat.h"

#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QSet>

// The whole editor in a shown window, with the real video surface.
class EditorScreenTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void showsVideoFrameAndTimes();
};

void EditorScreenTest::initTestCase()
{
    // The picture is what is checked; no sound server is asked for one.
    Player::setDefaultOutput(Player::Output::SilentSurface);
}

void EditorScreenTest::showsVideoFrameAndTimes()
{
    ContentView window;
    window.resize(960, 720);
    QVERIFY(showExposed(&window));
    VideoEditorViewModel *model = window.viewModel();
    model->loadVideo(QUrl::fromLocalFile(media("movie.mp4")));
    QVERIFY(waitFor([&] { return window.editor() != nullptr; }, 10000));
    EditorView *editor = window.editor();
    QVERIFY(editor->playerView());
    Player *player = model->player();
    QVERIFY(waitFor([&] { return player->lastReportedTime().has_value(); }, 10000));

    const double target = 3.25; // frame 78 at 24 fps
    model->seek(target);
    QVERIFY(waitFor(
        [&] {
            const auto t = player->lastReportedTime();
            return t && qAbs(*t - target) < 0.05;
        },
        10000));
    QTest::qWait(300); // let the surface paint the new frame
    QVERIFY(qAbs(model->currentTime() - target) < 1.0 / 24);

    const QString expectedTime = formatTime(model->currentTime());
    QVERIFY2(expectedTime.startsWith(QStringLiteral("00:00:03.2")), qPrintable(expectedTime));
    QCOMPARE(editor->currentTimeLabel()->text(), expectedTime);
    QVERIFY2(editor->lengthLabel()->text().startsWith(QStringLiteral("/ 00:00:12.5")),
             qPrintable(editor->lengthLabel()->text()));
    QCOMPARE(editor->inLabel()->text(), QStringLiteral("In: 00:00:00.000"));
    QCOMPARE(editor->outLabel()->text(),
             QStringLiteral("Out: ") + formatTime(model->videoDuration()));

    const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    shot.save(QDir::temp().filePath(QStringLiteral("trimora-editor.png")));
    QWidget *area = editor->findChild<QWidget *>(QStringLiteral("videoArea"));
    QVERIFY(area);
    QVERIFY(area->height() >= 200 && area->height() <= 480);
    const QRect rect(area->mapTo(&window, QPoint(0, 0)), area->size());
    const qreal ratio = shot.devicePixelRatio();
    QSet<QRgb> colours;
    int lit = 0;
    for (int y = rect.top(); y <= rect.bottom(); y += 4) {
        for (int x = rect.left(); x <= rect.right(); x += 4) {
            const QRgb pixel = shot.pixel(qRound(x * ratio), qRound(y * ratio));
            colours.insert(pixel);
            if (qGray(pixel) > 40)
                ++lit;
        }
    }
    QVERIFY2(colours.size() > 50, qPrintable(QString::number(colours.size())));
    QVERIFY2(lit > 1000, qPrintable(QString::number(lit)));
    // Letterboxing: the 16:9 frame fits the area, black bands beside it.
    QCOMPARE(qGray(shot.pixel(qRound(rect.left() * ratio) + 1, qRound(rect.center().y() * ratio))),
             0);
}

QTEST_MAIN(EditorScreenTest)
#include "test_editorscreen.moc"
