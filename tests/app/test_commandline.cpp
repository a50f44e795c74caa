#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/DropZoneView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

using namespace trimora;

namespace {

QString runTrimora(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // As on a terminal without a display: the answers must not need one.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TRIMORA_BINARY), arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    // One window a file; a relative path counts from the working directory,
    // and a missing file still opens its window, on the drop zone.
    void severalFilesOpenOneWindowEach()
    {
        TrimoraApp app;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QStringLiteral(TRIMORA_TEST_MEDIA));
        app.openFiles(
            {QStringLiteral("movie.mp4"), media("clip1s.mp4"), media("no-such-movie.mp4")});
        QDir::setCurrent(previous);
        QCOMPARE(app.windows().size(), 3);
        VideoEditorViewModel *first = app.windows().at(0)->content()->viewModel();
        VideoEditorViewModel *second = app.windows().at(1)->content()->viewModel();
        QVERIFY(waitFor([&] { return first->isLoaded() && second->isLoaded(); }));
        QCOMPARE(first->sourceURL(), QUrl::fromLocalFile(media("movie.mp4")));
        QCOMPARE(second->sourceURL(), QUrl::fromLocalFile(media("clip1s.mp4")));
        ContentView *missing = app.windows().at(2)->content();
        QTest::qWait(600);
        QVERIFY(!missing->viewModel()->isLoaded());
        QVERIFY(missing->dropZone()->isVisibleTo(missing));
        app.closeAllWindows();
    }

    void versionAndHelpAnswerOnStandardOutput()
    {
        const QString version = runTrimora({QStringLiteral("--version")});
        QVERIFY2(version.startsWith(QStringLiteral("Trimora " TRIMORA_VERSION)),
                 qPrintable(version));
        const QString help = runTrimora({QStringLiteral("--help")});
        QVERIFY(help.contains(QStringLiteral("--version")));
        QVERIFY(help.contains(QStringLiteral("files")));
    }
};

QTEST_MAIN(CommandLineTest)
#include "test_commandline.moc"
