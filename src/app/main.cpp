#include "app/TrimoraApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TrimoraApp::configureApplication();
    TrimoraApp app;
    app.openWindow();
    return QApplication::exec();
}
