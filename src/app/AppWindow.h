#pragma once

#include "views/KeyboardShortcuts.h"

#include <QFileDialog>
#include <QMainWindow>

#include <QPointer>
#include <functional>

namespace trimora {

class ContentView;
class TrimoraApp;

// One editor window: the root view, the File menu and Help ▸ Keyboard Shortcuts.
class AppWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit AppWindow(TrimoraApp &app);

    ContentView *content() const { return m_content; }
    KeyboardShortcutsWindow *shortcutsWindow() const { return m_shortcutsWindow; }

private:
    // A file dialog of this window; chosen runs with the file picked.
    void askForFile(const QString &title, const QString &filter, QFileDialog::AcceptMode mode,
                    const QString &proposed, std::function<void(const QString &)> chosen);

    ContentView *m_content;
    QPointer<KeyboardShortcutsWindow> m_shortcutsWindow;
};

} // namespace trimora
