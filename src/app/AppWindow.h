#pragma once

#include "views/KeyboardShortcuts.h"

#include <QMainWindow>
#include <QPointer>

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
    ContentView *m_content;
    QPointer<KeyboardShortcutsWindow> m_shortcutsWindow;
};

} // namespace trimora
