#include "app/TrimoraApp.h"

#include "app/AppWindow.h"
#include "app/ContentView.h"

#include <QApplication>
#include <QDir>
#include <QUrl>

#include <clocale>

#ifdef __GLIBC__
#include <malloc.h>

namespace trimora {

#endif

void TrimoraApp::configureApplication()
{
    QApplication::setApplicationName(QStringLiteral("Trimora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Trimora"));
    QApplication::setApplicationVersion(QStringLiteral(TRIMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("trimora"));
    // libmpv needs a C numeric locale; QApplication has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
}

void TrimoraApp::configureAllocator()
{
#ifdef __GLIBC__
    // Every load starts and retires decoder, demuxer and pool threads; with an
    // arena per thread, the few objects each leaves behind pin whole pages and
    // the resident size climbs by tens of megabytes over a long session. Two
    // arenas keep it flat at no measurable cost in speed.
    mallopt(M_ARENA_MAX, 2);
#endif
}

AppWindow *TrimoraApp::openWindow()
{
    auto *window = new AppWindow(*this);
    m_windows.append(window);
    window->show();
    return window;
}

void TrimoraApp::openFiles(const QStringList &paths)
{
    if (paths.isEmpty()) {
        openWindow();
        return;
    }
    for (const QString &path : paths) {
        const QUrl url = QUrl::fromUserInput(path, QDir::currentPath(), QUrl::AssumeLocalFile);
        openWindow()->content()->openChosenFile(url);
    }
}

QList<AppWindow *> TrimoraApp::windows() const
{
    QList<AppWindow *> open;
    for (const QPointer<AppWindow> &window : m_windows) {
        if (window)
            open.append(window);
    }
    return open;
}

void TrimoraApp::closeAllWindows()
{
    for (AppWindow *window : windows())
        window->close();
}

} // namespace trimora
