#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/DropZoneView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/PlayerView.h"
#include "views/Theme.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace trimora;

namespace {

// Sends a drag entering target, and with drop a drop after it: whether the
// last was accepted.
bool sendDrag(QWidget *target, QMimeData *mime, bool drop = false)
{
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!drop)
        return enter.isAccepted();
    QDropEvent event(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return event.isAccepted();
}

// The border runs along the zone's edges, 20 px in; sample the middle of its left side.
QColor borderColour(DropZoneView *zone)
{
    const QImage image = zone->grab().toImage();
    QColor strongest;
    int best = -1;
    for (int x = 19; x <= 24; ++x) {
        for (int y = zone->height() / 2 - 8; y < zone->height() / 2 + 8; ++y) {
            const QColor c = image.pixelColor(x, y);
            const int contrast = qAbs(c.lightness() - image.pixelColor(5, 5).lightness());
            if (contrast > best) {
                best = contrast;
                strongest = c;
            }
        }
    }
    return strongest;
}

bool isMostlyBlack(const QImage &image)
{
    int bright = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            if (image.pixelColor(x, y).lightness() > 40)
                ++bright;
        }
    }
    return bright < 20;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
    TrimoraApp app;
    AppWindow *window = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }
    void init()
    {
        window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup()
    {
        app.closeAllWindows();
        QVERIFY(waitFor([&] { return app.windows().isEmpty(); }));
    }

    void opensAtDefaultSizeAndNeverSmallerThanMinimum()
    {
        QCOMPARE(window->size(), QSize(960, 720));
        window->resize(300, 200);
        QTest::qWait(50);
        QVERIFY(window->content()->width() >= 640);
        QVERIFY(window->content()->height() >= 480);
    }

    // A file dragged over the zone lights its border in the accent; the drop
    // loads the first file, and the video surface that arrives with the editor
    // keeps the window's native window and place.
    void dragAndDropLoadTheFirstFileInTheSameWindow()
    {
        window->move(140, 90);
        QVERIFY(waitFor([&] { return window->pos() == QPoint(140, 90); }));
        const WId id = window->winId();
        ContentView *content = window->content();
        DropZoneView *zone = content->dropZone();
        const QColor idle = borderColour(zone);

        QMimeData text, empty, mime;
        text.setText(QStringLiteral("not a file"));
        QVERIFY(!sendDrag(zone, &text));
        QVERIFY(!zone->isDragTarget());
        empty.setUrls({});
        QVERIFY(!sendDrag(zone, &empty, true));

        const QUrl first = QUrl::fromLocalFile(media("movie.mp4"));
        mime.setUrls({first, QUrl::fromLocalFile(media("clip1s.mp4"))});
        QVERIFY(sendDrag(zone, &mime));
        QVERIFY(zone->isDragTarget());
        const QColor hovered = borderColour(zone);
        const QColor accent = Theme::accent();
        QVERIFY2(qAbs(hovered.hue() - accent.hue()) < 12 && hovered.saturation() > 60,
                 qPrintable(hovered.name()));
        QVERIFY(hovered != idle);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(zone, &leave);
        QVERIFY(!zone->isDragTarget());
        QCOMPARE(borderColour(zone), idle);

        QVERIFY(sendDrag(zone, &mime, true));
        // Accepted at once; the load itself follows from the event loop.
        QVERIFY(content->viewModel()->movie()->sourceURL().isEmpty());
        QVERIFY(waitFor([&] { return content->viewModel()->movie()->isLoaded(); }));
        QCOMPARE(content->viewModel()->movie()->sourceURL(), first);
        QVERIFY(content->editor() && content->editor()->isVisible());
        QVERIFY(!zone->isVisible());
        PlayerView *surface = content->editor()->playerView();
        QVERIFY(surface);
        QVERIFY(waitFor([&] { return !isMostlyBlack(surface->grabFramebuffer()); }, 8000));
        QCOMPARE(window->winId(), id);
        QCOMPARE(window->pos(), QPoint(140, 90));
    }

    void aFailedLoadChangesNothingAndSaysSo()
    {
        ContentView *content = window->content();
        auto notice = [&] {
            for (QLabel *label : content->findChildren<QLabel *>()) {
                if (label->isVisible() && label->text().startsWith(QLatin1String("Could not open")))
                    return label->text();
            }
            return QString();
        };
        // On the drop zone.
        content->openChosenFile(QUrl::fromLocalFile(media("not_a_movie.mp4")));
        QVERIFY(waitFor([&] { return !notice().isEmpty(); }));
        QCOMPARE(notice(), QStringLiteral("Could not open not_a_movie.mp4: not a playable movie"));
        QVERIFY(content->dropZone()->isVisible());
        QVERIFY(waitFor([&] { return notice().isEmpty(); }, 10000)); // transient

        // On a movie: the picture, the texts and the command stay the movie's.
        content->openChosenFile(QUrl::fromLocalFile(media("movie.mp4")));
        QVERIFY(waitFor([&] { return content->editor() != nullptr; }));
        VideoEditorViewModel *model = content->viewModel();
        model->transport()->seek(2.0);
        PlayerView *surface = content->editor()->playerView();
        QVERIFY(waitFor([&] { return !model->transport()->player()->isSeeking(); }));
        QTest::qWait(200);
        const QImage before = surface->grabFramebuffer();
        QVERIFY(!isMostlyBlack(before));
        const QString command = model->exports()->commandPreview();
        content->openChosenFile(QUrl::fromLocalFile(media("empty.mp4")));
        QVERIFY(waitFor([&] { return !notice().isEmpty(); }));
        QCOMPARE(notice(), QStringLiteral("Could not open empty.mp4: not a playable movie"));
        QTest::qWait(300);
        QCOMPARE(model->exports()->commandPreview(), command);
        QCOMPARE(model->transport()->currentTime(), 2.0);
        QCOMPARE(surface->grabFramebuffer(), before);

        // A movie without video: the picture goes black on the screen itself,
        // not only in a fresh rendering of the surface.
        QSignalSpy loaded(model->movie(), &Movie::sourceURLChanged);
        content->openChosenFile(QUrl::fromLocalFile(media("mx-audio.m4a")));
        QVERIFY(loaded.wait(5000));
        auto onScreen = [&] {
            const QPoint at = surface->mapTo(window, QPoint(0, 0));
            return window->screen()
                ->grabWindow(window->winId(), at.x(), at.y(), surface->width(), surface->height())
                .toImage();
        };
        QVERIFY(waitFor([&] { return isMostlyBlack(onScreen()); }, 5000));
    }

    // Each window its own model, its own last folder, whichever dialog was open
    // last, and its own keys; closing a window with a playing movie tears its model down.
    void windowsAreIndependentAndClosingTearsTheModelDown()
    {
        QAction *newWindow = nullptr;
        for (QAction *action : window->menuBar()->actions().first()->menu()->actions())
            if (action->shortcut() == QKeySequence(QKeySequence::New))
                newWindow = action;
        QVERIFY(newWindow);
        newWindow->trigger();
        QCOMPARE(app.windows().size(), 2);
        AppWindow *second = app.windows().at(1);
        QVERIFY(QTest::qWaitForWindowExposed(second));
        QPointer<VideoEditorViewModel> model = window->content()->viewModel();
        QVERIFY(model != second->content()->viewModel());

        // The open dialog offers movies and loads the choice.
        ContentView *content = window->content();
        content->setShowFileImporter(true);
        QFileDialog *dialog = content->fileDialog();
        QVERIFY(dialog);
        const QString filter = dialog->nameFilters().join(QLatin1Char(' '));
        QVERIFY(filter.contains(QLatin1String("*.mp4")) && filter.contains(QLatin1String("*.mkv")));
        QVERIFY(!filter.contains(QLatin1String("*.txt")));
        dialog->selectFile(media("clip1s.mp4"));
        QMetaObject::invokeMethod(dialog, "accept");
        QVERIFY(!content->showFileImporter());
        QVERIFY(waitFor([&] { return model->movie()->isLoaded(); }));
        QVERIFY(!second->content()->viewModel()->movie()->isLoaded());

        QTemporaryDir other;
        QVERIFY(QFile::copy(media("clip1s.mp4"), other.filePath(QStringLiteral("clip.mp4"))));
        second->content()->openChosenFile(
            QUrl::fromLocalFile(other.filePath(QStringLiteral("clip.mp4"))));
        for (int round = 0; round < 2; ++round) {
            for (auto [w, folder] : {std::pair{window, QDir(media(QString())).absolutePath()},
                                     std::pair{second, QDir(other.path()).absolutePath()}}) {
                w->content()->setShowFileImporter(true);
                QCOMPARE(w->content()->fileDialog()->directory().absolutePath(), folder);
                w->content()->fileDialog()->reject();
                QVERIFY(!w->content()->showFileImporter());
            }
        }
        // The keys act on the focused window only.
        VideoEditorViewModel *theirs = second->content()->viewModel();
        QVERIFY(
            waitFor([&] { return theirs->movie()->isLoaded() && second->content()->editor(); }));
        second->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(second));
        QTest::keyClick(second->content()->editor(), Qt::Key_End);
        QTest::keyClick(second->content()->editor(), Qt::Key_O);
        QCOMPARE(theirs->transport()->currentTime(), theirs->movie()->videoDuration());
        QCOMPARE(model->transport()->currentTime(), 0.0);
        QCOMPARE(model->segments()->outPoint(), model->movie()->videoDuration());
        QVERIFY(!model->transport()->isPlaying());

        model->transport()->togglePlayPause();
        window->close();
        QVERIFY(waitFor([&] { return model.isNull(); }));
        QCOMPARE(app.windows().size(), 1);
    }

    // One window a file; a relative path counts from the working directory,
    // and a missing file still opens its window, on the drop zone.
    void severalFilesOpenOneWindowEach()
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QStringLiteral(TRIMORA_TEST_MEDIA));
        app.openFiles(
            {QStringLiteral("movie.mp4"), media("clip1s.mp4"), media("no-such-movie.mp4")});
        QDir::setCurrent(previous);
        QCOMPARE(app.windows().size(), 4); // with the one already open
        VideoEditorViewModel *first = app.windows().at(1)->content()->viewModel();
        VideoEditorViewModel *second = app.windows().at(2)->content()->viewModel();
        QVERIFY(waitFor([&] { return first->movie()->isLoaded() && second->movie()->isLoaded(); }));
        QCOMPARE(first->movie()->sourceURL(), QUrl::fromLocalFile(media("movie.mp4")));
        QCOMPARE(second->movie()->sourceURL(), QUrl::fromLocalFile(media("clip1s.mp4")));
        ContentView *missing = app.windows().at(3)->content();
        QTest::qWait(600);
        QVERIFY(!missing->viewModel()->movie()->isLoaded());
        QVERIFY(missing->dropZone()->isVisibleTo(missing));
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
