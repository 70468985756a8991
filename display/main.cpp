// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-display: the light display on screen. Parses the command line,
// picks the source, and runs a Session with or without a window.
#include "displaywindow.h"
#include "options.h"
#include "ptysource.h"
#include "replaysource.h"
#include "serialsource.h"
#include "session.h"
#include "terminationsignals.h"
#include "windowsystem.h"

#include <QApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace lumora::display;

constexpr int kExitFailed = 1;        // the input failed
constexpr int kExitBadArguments = 2;  // a wrong argument

int fail(const std::string& message, int status = kExitFailed)
{
    std::fprintf(stderr, "lumora-display: %s\n", message.c_str());
    return status;
}

// The source; for a pseudo-terminal also its slave's path, which main()
// announces once everything is ready.
std::unique_ptr<ByteSource> openSource(const Options& options, std::string& slavePath, std::string& error)
{
    if (!options.replay.empty())
        return ReplaySource::open(options.replay, options.fast, error);
    if (!options.port.empty())
        return std::make_unique<SerialSource>(QString::fromStdString(options.port));
    auto pty = PtySource::create(options.link, error);
    if (pty)
        slavePath = pty->slavePath();
    return pty;
}

// --help and --version: prints what they ask for, and the program ends.
bool printsAndEnds(const Options& options)
{
    if (options.help)
        std::fputs(helpText().c_str(), stdout);
    else if (options.version)
        std::fputs("lumora-display " LUMORA_VERSION "\n", stdout);
    return options.help || options.version;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Our own options are checked before any window system is touched, so
    // that --help and a wrong argument need no display. Qt's own arguments
    // (-platform, -geometry, ...) start with a single dash; with one of
    // those the check waits until QApplication has taken them out.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = parseOptions(arguments, error);
    const bool qtArguments = std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
        return a.size() > 1 && a[0] == '-' && a[1] != '-' && a != "-h";
    });
    if (!options && !qtArguments)
        return fail(error, kExitBadArguments);
    if (options && printsAndEnds(*options))
        return 0;

    const bool headless =
        options ? options->headless : std::find(arguments.begin(), arguments.end(), "--headless") != arguments.end();
    lumora::preferQtEventDispatcher();
    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else {
        lumora::WindowSystemStart start("lumora-display", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    if (!options) {
        arguments.assign(argv + 1, argv + argc);
        options = parseOptions(arguments, error);
        if (!options)
            return fail(error, kExitBadArguments);
        if (printsAndEnds(*options))
            return 0;
    }

    std::string slavePath;
    auto source = openSource(*options, slavePath, error);
    if (!source)
        return fail(error);

    std::unique_ptr<DisplayWindow> window;
    if (!headless)
        window = std::make_unique<DisplayWindow>();
    Session session(*options, std::move(source), window.get());
    if (!options->record.empty() && !session.openRecording(options->record, error))
        return fail(error);
    // SIGINT and SIGTERM end the program through the event loop, so that
    // the summary is printed and the link is removed.
    if (!lumora::TerminationSignals::install([&session] { session.stop(0); }, &session))
        return fail(std::string("cannot route SIGINT and SIGTERM: ") + std::strerror(errno));
    // A sender, or a test, may act on this line at once: it comes last.
    if (!slavePath.empty()) {
        std::printf("lumora-display: listening on %s\n", slavePath.c_str());
        std::fflush(stdout);
    }

    session.start();
    if (window) {
        window->resize(window->sizeHint());  // not Qt's default of 2/3 of the screen
        window->show();
    }
    const int status = app->exec();
    session.stop(status);
    return status;
}
