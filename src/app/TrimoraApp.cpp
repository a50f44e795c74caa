#include "app/TrimoraApp.h"

#include "app/AppWindow.h"
#include "app/ContentView.h"

#include <QApplication>
#include <QDir>
#include <QUrl>

#include <clocale>

void TrimoraApp::configureApplication()
{
    QApplication::setApplicationName(QStringLiteral("Trimora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Trimora"));
    QApplication::setApplicationVersion(QStringLiteral(TRIMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("trimora"));
    // libmpv needs a C numeric locale; QApplication has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
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
