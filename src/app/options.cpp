#include "app/options.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

#include "remote/listen_address.h"

namespace velmor {

CommandLine ParseCommandLine(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Velmor receives one NDI source, processes it and publishes it again as new NDI sources.\n"
        "It opens its window on the desktop; with --headless it runs without windows, logs every "
        "status change to standard output and runs until SIGINT or SIGTERM.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"headless", "Run without windows (servers, services)."});
    parser.addOption(
        {"source",
         "Connect to the source NAME when it is found. Names are \"MACHINE (source)\", the "
         "machine name in capitals as NDI lists it (e.g. \"STUDIO-PC (Camera 1)\"), and must "
         "match exactly; while seeking, the names on offer are logged.",
         "NAME"});
    parser.addOption(
        {"config", "Configuration file to load and save (default: last.vlm, lastN.vlm).", "FILE"});
    parser.addOption(
        {"in-config-home",
         "Work in $XDG_CONFIG_HOME/velmor (default ~/.config/velmor, created when missing), so "
         "last.vlm, presets, grabs and a relative --config FILE are there. The desktop entry and "
         "the velmor@ service start Velmor this way."});
    parser.addOption({"save-on-exit", "Turn \"Save settings on exit\" on."});
    parser.addOption(
        {"load-on-startup", "Turn \"Load settings on startup\" on: apply the stored settings."});
    parser.addOption(
        {"ppm-overlay",
         "Switch the PPM overlay on (the meter outputs come from the configuration)."});
    parser.addOption(
        {"show-local", "List the sources of this machine too (\"Exclude local\" off)."});
    parser.addOption({"bus", "D-Bus address to use instead of the session bus.", "ADDRESS"});
    parser.addOption(
        {"http",
         "Serve the control page and the HTTP API on [ADDRESS:]PORT (ADDRESS 127.0.0.1 when "
         "left out, [ADDRESS] for IPv6, PORT 0 for any free port). Off without this option.",
         "[ADDRESS:]PORT"});
    parser.addOption(
        {"http-token-file",
         "Read the HTTP access token from FILE. Without it a random token is made at start-up "
         "and written to $XDG_RUNTIME_DIR/velmor/http-token-N for copy N.",
         "FILE"});
    parser.addPositionalArgument(
        "address", "Extra IPv4 address(es) for discovery, comma-separated (e.g. 192.0.2.7).",
        "[address]");
    parser.process(app);

    CommandLine line;
    RelayOptions& o = line.options;
    line.headless = parser.isSet("headless");
    o.seekSource = parser.value("source").toStdString();
    o.configPath = parser.value("config").toStdString();
    o.saveOnExit = parser.isSet("save-on-exit");
    o.loadOnStartup = parser.isSet("load-on-startup");
    o.showLocal = parser.isSet("show-local");
    o.ppmOverlay = parser.isSet("ppm-overlay");
    o.busAddress = parser.value("bus").toStdString();
    o.http = parser.value("http").toStdString();
    o.httpTokenFile = parser.value("http-token-file").toStdString();
    ListenAddress listen;
    std::string error;
    if (!o.http.empty() && !ParseListenAddress(o.http, listen, error)) {
        std::fprintf(stderr, "velmor: %s\n", error.c_str());
        std::exit(2);
    }
    if (!o.httpTokenFile.empty() && o.http.empty()) {
        std::fprintf(stderr, "velmor: --http-token-file needs --http\n");
        std::exit(2);
    }
    if (!parser.positionalArguments().isEmpty())
        o.extraIps = parser.positionalArguments().first().toStdString();
    return line;
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace velmor
