// control7710-exporter: watches many switches with the station's link and serves what
// they report to Prometheus.

#include "Exporter.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    TExporterOptions options;
    const std::string error = ParseExporterOptions({argv + 1, argv + argc}, options);
    if (!error.empty()) {
        std::fprintf(stderr, "control7710-exporter: %s (--help lists the options)\n",
                     error.c_str());
        return EXIT_BAD_START;
    }
    if (options.Help) {
        std::fputs(ExporterHelp().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("control7710-exporter %s\n", CONTROL7710_VERSION);
        return 0;
    }
    BlockExporterSignals();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(CONTROL7710_VERSION);
    return TExporter(options, stdout, stderr).Run();
}
