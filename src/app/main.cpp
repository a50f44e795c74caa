#include "app/TrimoraApp.h"
#include "export/FFmpegRunner.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>
#include <memory>

namespace {

// --help and --version answer on a terminal without a display, so they must
// not need the GUI application object.
bool onlyAsksForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

using trimora::TrimoraApp;

int main(int argc, char *argv[])
{
    TrimoraApp::configureAllocator();
    std::unique_ptr<QCoreApplication> application;
    if (onlyAsksForText(argc, argv)) {
        application = std::make_unique<QCoreApplication>(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Trimora"));
        QCoreApplication::setApplicationVersion(QStringLiteral(TRIMORA_VERSION));
    } else {
        application = std::make_unique<QApplication>(argc, argv);
        TrimoraApp::configureApplication();
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Cut a stretch out of a movie without re-encoding it."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QCoreApplication::translate("main", "Movies to open, one window each."),
        QStringLiteral("[files...]"));
    parser.process(*application);

    TrimoraApp app;
    app.openFiles(parser.positionalArguments());
    const int status = QCoreApplication::exec();
    // The windows are gone; an export still running gets its output named.
    trimora::waitForRunningTools();
    return status;
}
