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

QMimeData *fileDrag(const QList<QUrl> &urls)
{
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

bool sendDragEnter(QWidget *target, QMimeData *mime)
{
    QDragEnterEvent event(target->rect().center(), Qt::CopyAction, mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return event.isAccepted();
}

bool sendDrop(QWidget *target, QMimeData *mime)
{
    sendDragEnter(target, mime);
    QDropEvent event(QPointF(target->rect().center()), Qt::CopyAction, mime, Qt::LeftButton,
                     Qt::NoModifier);
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
private Q_SLOTS:
    void initTestCase()
    {
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    void opensAtDefaultSizeAndNeverSmallerThanMinimum()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->size(), QSize(960, 720));
        window->resize(300, 200);
        QTest::qWait(50);
        QVERIFY(window->content()->width() >= 640);
        QVERIFY(window->content()->height() >= 480);
        QVERIFY(!window->content()->viewModel()->isLoaded());
        QCOMPARE(window->content()->dropZone()->isVisible(), true);
        window->close();
    }

    void dragHoverHighlightsTheZone()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        DropZoneView *zone = window->content()->dropZone();
        const QColor idle = borderColour(zone);

        auto text = std::make_unique<QMimeData>();
        text->setText(QStringLiteral("not a file"));
        QVERIFY(!sendDragEnter(zone, text.get()));
        QVERIFY(!zone->isDragTarget());

        std::unique_ptr<QMimeData> mime(fileDrag({QUrl::fromLocalFile(media("movie.mp4"))}));
        QVERIFY(sendDragEnter(zone, mime.get()));
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
        window->close();
    }

    void dropLoadsTheFirstFileAndSwitchesToTheEditor()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ContentView *content = window->content();
        std::unique_ptr<QMimeData> empty(fileDrag({}));
        QVERIFY(!sendDrop(content->dropZone(), empty.get()));

        const QUrl first = QUrl::fromLocalFile(media("movie.mp4"));
        std::unique_ptr<QMimeData> mime(
            fileDrag({first, QUrl::fromLocalFile(media("clip1s.mp4"))}));
        QVERIFY(sendDrop(content->dropZone(), mime.get()));
        // Accepted at once; the load itself follows from the event loop.
        QVERIFY(content->viewModel()->sourceURL().isEmpty());
        QVERIFY(waitFor([&] { return content->viewModel()->isLoaded(); }));
        QCOMPARE(content->viewModel()->sourceURL(), first);
        QVERIFY(content->editor());
        QVERIFY(content->editor()->isVisible());
        QVERIFY(!content->dropZone()->isVisible());

        // The movie's first frame appears in the player surface.
        PlayerView *surface = content->editor()->playerView();
        QVERIFY(surface);
        QVERIFY(waitFor([&] { return !isMostlyBlack(surface->grabFramebuffer()); }, 8000));
        window->close();
    }

    void openDialogOffersMoviesAndLoadsTheChoice()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ContentView *content = window->content();
        content->setShowFileImporter(true);
        QFileDialog *dialog = content->fileDialog();
        QVERIFY(dialog);
        const QString filter = dialog->nameFilters().join(QLatin1Char(' '));
        QVERIFY(filter.contains(QLatin1String("*.mp4")));
        QVERIFY(filter.contains(QLatin1String("*.mkv")));
        QVERIFY(!filter.contains(QLatin1String("*.txt")));
        dialog->selectFile(media("clip1s.mp4"));
        QMetaObject::invokeMethod(dialog, "accept");
        QVERIFY(!content->showFileImporter());
        QVERIFY(waitFor([&] { return content->viewModel()->isLoaded(); }));

        content->setShowFileImporter(true);
        QVERIFY(content->fileDialog());
        content->fileDialog()->reject();
        QVERIFY(!content->showFileImporter());
        window->close();
    }

    void keepsItsNativeWindowWhenTheVideoSurfaceArrives()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->move(140, 90);
        QVERIFY(waitFor([&] { return window->pos() == QPoint(140, 90); }));
        const WId id = window->winId();
        QVERIFY(loadAndWait(*window->content()->viewModel(), QStringLiteral("clip1s.mp4")));
        PlayerView *surface = window->content()->editor()->playerView();
        QVERIFY(surface);
        QVERIFY(waitFor([&] { return !isMostlyBlack(surface->grabFramebuffer()); }, 8000));
        QCOMPARE(window->winId(), id);
        QCOMPARE(window->pos(), QPoint(140, 90));
        window->close();
    }

    void aLoadThatFailsChangesNothingAndSaysSo()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
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
        model->seek(2.0);
        PlayerView *surface = content->editor()->playerView();
        QVERIFY(waitFor([&] { return !model->player()->isSeeking(); }));
        QTest::qWait(200);
        const QImage before = surface->grabFramebuffer();
        QVERIFY(!isMostlyBlack(before));
        const QString command = model->commandPreview();
        content->openChosenFile(QUrl::fromLocalFile(media("empty.mp4")));
        QVERIFY(waitFor([&] { return !notice().isEmpty(); }));
        QCOMPARE(notice(), QStringLiteral("Could not open empty.mp4: not a playable movie"));
        QTest::qWait(300);
        QCOMPARE(model->commandPreview(), command);
        QCOMPARE(model->currentTime(), 2.0);
        QCOMPARE(surface->grabFramebuffer(), before);
        window->close();
    }

    void aMovieWithoutVideoShowsABlackPicture()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ContentView *content = window->content();
        QVERIFY(loadAndWait(*content->viewModel(), QStringLiteral("movie.mp4")));
        PlayerView *surface = content->editor()->playerView();
        QVERIFY(waitFor([&] { return !isMostlyBlack(surface->grabFramebuffer()); }, 8000));
        QTest::qWait(300);
        QSignalSpy loaded(content->viewModel(), &VideoEditorViewModel::sourceURLChanged);
        content->openChosenFile(QUrl::fromLocalFile(media("mx-audio.m4a")));
        QVERIFY(loaded.wait(5000));
        // What the screen shows, not a fresh rendering of the surface.
        auto onScreen = [&] {
            const QPoint at = surface->mapTo(window, QPoint(0, 0));
            return window->screen()
                ->grabWindow(window->winId(), at.x(), at.y(), surface->width(), surface->height())
                .toImage();
        };
        QVERIFY(waitFor([&] { return isMostlyBlack(onScreen()); }, 5000));
        window->close();
    }

    void openDialogStartsWhereTheLastMovieCameFrom()
    {
        QTemporaryDir other;
        QVERIFY(QFile::copy(media("clip1s.mp4"), other.filePath(QStringLiteral("clip.mp4"))));
        TrimoraApp app;
        AppWindow *first = app.openWindow();
        AppWindow *second = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(second));
        first->content()->openChosenFile(QUrl::fromLocalFile(media("clip1s.mp4")));
        second->content()->openChosenFile(
            QUrl::fromLocalFile(other.filePath(QStringLiteral("clip.mp4"))));
        // Each window its own, whichever dialog was open last.
        for (int round = 0; round < 2; ++round) {
            for (auto [window, folder] : {std::pair{first, QDir(media(QString())).absolutePath()},
                                          std::pair{second, QDir(other.path()).absolutePath()}}) {
                window->content()->setShowFileImporter(true);
                QCOMPARE(window->content()->fileDialog()->directory().absolutePath(), folder);
                window->content()->setShowFileImporter(false);
            }
        }
        first->close();
        second->close();
    }

    void windowsAreIndependentAndClosingTearsTheModelDown()
    {
        TrimoraApp app;
        AppWindow *first = app.openWindow();
        QAction *newWindow = nullptr;
        for (QAction *action : first->menuBar()->actions().first()->menu()->actions()) {
            if (action->shortcut() == QKeySequence(QKeySequence::New))
                newWindow = action;
        }
        QVERIFY(newWindow);
        newWindow->trigger();
        QCOMPARE(app.windows().size(), 2);
        AppWindow *second = app.windows().at(1);
        QVERIFY(first->content()->viewModel() != second->content()->viewModel());

        QVERIFY(loadAndWait(*first->content()->viewModel(), QStringLiteral("clip1s.mp4")));
        QVERIFY(!second->content()->viewModel()->isLoaded());

        QPointer<VideoEditorViewModel> model = first->content()->viewModel();
        model->togglePlayPause();
        first->close();
        QVERIFY(waitFor([&] { return model.isNull(); }));
        QCOMPARE(app.windows().size(), 1);
        second->close();
        QVERIFY(waitFor([&] { return app.windows().isEmpty(); }));
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
