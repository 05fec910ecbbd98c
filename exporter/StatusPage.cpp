#include "StatusPage.h"

#include "StationText.h"

#include <functional>

namespace {

using prometheus::ClientMetric;

std::string LabelValue(const ClientMetric& metric, const std::string& name) {
    for (const ClientMetric::Label& label : metric.label) {
        if (label.name == name)
            return label.value;
    }
    return "";
}

using TTake = std::function<void(TDeviceRow&, const ClientMetric&)>;

const std::map<std::string, TTake>& Takers() {
    static const std::map<std::string, TTake> takers{
        {"control7710_up", [](TDeviceRow& r, const ClientMetric& m) { r.Up = m.gauge.value > 0; }},
        {"control7710_device_info",
         [](TDeviceRow& r, const ClientMetric& m) {
             r.Name = LabelValue(m, "name");
             r.Label = LabelValue(m, "label");
         }},
        {"control7710_output_input",
         [](TDeviceRow& r, const ClientMetric& m) { r.Output = static_cast<int>(m.gauge.value); }},
        {"control7710_auto_mode",
         [](TDeviceRow& r, const ClientMetric& m) { r.AutoMode = m.gauge.value > 0; }},
        {"control7710_last_stop_code",
         [](TDeviceRow& r, const ClientMetric& m) {
             r.LastStopCode = static_cast<int>(m.gauge.value);
         }},
        {"control7710_connects_total",
         [](TDeviceRow& r, const ClientMetric& m) { r.Connects = m.counter.value; }},
    };
    return takers;
}

std::string Cell(const std::string& text) {
    return "<td>" + HtmlEscape(text) + "</td>";
}

std::string Row(const TDeviceRow& row) {
    const bool known = row.Up && row.Output != 0;
    return "<tr>" + Cell(row.Device) + Cell(row.Label) + Cell(row.Name) +
           Cell(row.Up ? "up" : "down") + Cell(known ? OutputWord(row.Output) : "") +
           Cell(known ? ModeWord(row.AutoMode) : "") +
           Cell(std::to_string(static_cast<long long>(row.Connects))) +
           Cell(std::to_string(row.LastStopCode)) + "</tr>\n";
}

} // namespace

std::map<std::string, TDeviceRow>
DeviceRows(const std::vector<prometheus::MetricFamily>& families) {
    std::map<std::string, TDeviceRow> rows;
    for (const prometheus::MetricFamily& family : families) {
        const auto taker = Takers().find(family.name);
        if (taker == Takers().end())
            continue;
        for (const ClientMetric& metric : family.metric) {
            const std::string device = LabelValue(metric, "device");
            TDeviceRow& row = rows[device];
            row.Device = device;
            taker->second(row, metric);
        }
    }
    return rows;
}

std::string HtmlEscape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string StatusPage(const std::map<std::string, TDeviceRow>& rows, const std::string& version) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<title>control7710-exporter</title></head>\n<body>\n<h1>control7710-exporter " +
        HtmlEscape(version) + "</h1>\n<p><a href=\"/metrics\">Metrics</a></p>\n" +
        "<table border=\"1\">\n<tr><th>Device</th><th>Label</th><th>Name</th><th>State</th>"
        "<th>Output</th><th>Mode</th><th>Connects</th><th>Last stop code</th></tr>\n";
    for (const auto& [device, row] : rows)
        page += Row(row);
    return page + "</table>\n</body></html>\n";
}
