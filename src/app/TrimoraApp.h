#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

namespace trimora {

class AppWindow;

// The application: one kind of window, any number of them, sharing nothing.
class TrimoraApp : public QObject
{
    Q_OBJECT
public:
    // Names the application and sets up what the player needs; call after the
    // QApplication exists.
    static void configureApplication();
    // Call first thing in main, before any thread exists.
    static void configureAllocator();

    AppWindow *openWindow();
    // Opens each file in a window of its own, the first in a new first window;
    // with no files, one empty window. Relative paths are taken from cwd.
    void openFiles(const QStringList &paths);
    QList<AppWindow *> windows() const;
    void closeAllWindows();

private:
    QList<QPointer<AppWindow>> m_windows;
};

} // namespace trimora
