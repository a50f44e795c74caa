#include "app/CommandLine.h"
#include "app/TrimoraApp.h"
#include "export/ExportJob.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Whether the command line is for a terminal alone: text to print or a cut to
// make. Those must not need a display, so they must not make the GUI
// application object, which is also the one to take Qt's own options out of
// the arguments.
bool needsNoDisplay(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--") == 0)
            break;
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version", "--cut",
                                   "--join", "--cut-away", "--exact", "-o", "--output"}) {
            const size_t n = std::strlen(option);
            if (std::strncmp(a, option, n) == 0 && (a[n] == '\0' || a[n] == '='))
                return true;
        }
        if (std::strncmp(a, "-o", 2) == 0) // -oFILE
            return true;
    }
    return false;
}

} // namespace

using namespace trimora;

int main(int argc, char *argv[])
{
    TrimoraApp::configureAllocator();
    QCoreApplication::setApplicationName(QStringLiteral("Trimora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRIMORA_VERSION));
    std::unique_ptr<QCoreApplication> application;
    if (needsNoDisplay(argc, argv)) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        application = std::make_unique<QApplication>(argc, argv);
        TrimoraApp::configureApplication();
    }

    const CommandLineRequest request = parseCommandLine(QCoreApplication::arguments().mid(1));
    if (const auto *text = std::get_if<ShowText>(&request)) {
        std::fputs(text->text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (const auto *bad = std::get_if<BadArguments>(&request)) {
        std::fprintf(stderr, "trimora: %s\nTry 'trimora --help'.\n",
                     bad->why.toLocal8Bit().constData());
        return 2;
    }
    if (const auto *cut = std::get_if<CutCommand>(&request))
        return runCutCommand(*cut);

    TrimoraApp app;
    app.openFiles(std::get<OpenWindows>(request).files);
    const int status = QCoreApplication::exec();
    // The windows are gone; an export still running gets its output named.
    waitForRunningExports();
    return status;
}
