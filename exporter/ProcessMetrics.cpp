#include "ProcessMetrics.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily Family(const std::string& name, const std::string& help, MetricType type,
                    double value) {
    prometheus::ClientMetric metric;
    if (type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    return {name, help, type, {metric}};
}

// The fields of /proc/self/stat after the command name, which may hold blanks: the
// first is the state, field 3 of proc(5).
std::vector<std::string> StatFields() {
    std::ifstream file("/proc/self/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos)
        return {};
    std::istringstream fields(text.substr(end + 1));
    return {std::istream_iterator<std::string>(fields), {}};
}

// Field number of proc(5)'s /proc/[pid]/stat, in clock ticks.
std::optional<double> StatSeconds(const std::vector<std::string>& fields, std::size_t number) {
    if (fields.size() + 2 < number)
        return std::nullopt;
    return std::stod(fields[number - 3]) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<double> BootTime() {
    std::ifstream file("/proc/stat");
    std::string name;
    double value = 0;
    while (file >> name) {
        if (name == "btime" && file >> value)
            return value;
        file.ignore(1 << 16, '\n');
    }
    return std::nullopt;
}

std::optional<double> ResidentBytes() {
    std::ifstream file("/proc/self/statm");
    double size = 0;
    double resident = 0;
    if (!(file >> size >> resident))
        return std::nullopt;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE));
}

double OpenFiles() {
    std::error_code error;
    const std::filesystem::directory_iterator files("/proc/self/fd", error);
    return static_cast<double>(std::distance(begin(files), end(files)));
}

} // namespace

std::string ProcessMetricsText(const std::string& version) {
    std::vector<MetricFamily> families;
    MetricFamily build = Family("control7710_exporter_build_info",
                                "The exporter's version; always 1", MetricType::Gauge, 1);
    build.metric.front().label.push_back({"version", version});
    families.push_back(build);
    const std::vector<std::string> stat = StatFields();
    const auto user = StatSeconds(stat, 14);
    const auto system = StatSeconds(stat, 15);
    if (user && system) {
        families.push_back(Family("process_cpu_seconds_total", "User and system CPU time spent",
                                  MetricType::Counter, *user + *system));
    }
    if (const auto resident = ResidentBytes()) {
        families.push_back(Family("process_resident_memory_bytes", "Resident memory size",
                                  MetricType::Gauge, *resident));
    }
    families.push_back(
        Family("process_open_fds", "Open file descriptors", MetricType::Gauge, OpenFiles()));
    const auto started = StatSeconds(stat, 22);
    const auto boot = BootTime();
    if (started && boot) {
        families.push_back(Family("process_start_time_seconds",
                                  "Start time of the process since the Unix epoch",
                                  MetricType::Gauge, *boot + *started));
    }
    return prometheus::TextSerializer().Serialize(families);
}
