#pragma once

#include <QMainWindow>

class ContentView;
class TrimoraApp;

// One editor window: the root view plus the standard File menu.
class AppWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit AppWindow(TrimoraApp &app);

    ContentView *content() const { return m_content; }

private:
    ContentView *m_content;
};
