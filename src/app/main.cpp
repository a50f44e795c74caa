#include "app/TrimoraApp.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    TrimoraApp::configureAllocator();
    QApplication application(argc, argv);
    TrimoraApp::configureApplication();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QApplication::translate("main", "Cut a stretch out of a movie without re-encoding it."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QApplication::translate("main", "Movies to open, one window each."),
        QStringLiteral("[files...]"));
    parser.process(application);

    TrimoraApp app;
    app.openFiles(parser.positionalArguments());
    return QApplication::exec();
}
