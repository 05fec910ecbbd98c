#pragma once

// The text of /metrics, made family by family: each family's text is kept with the
// change count it was made at and made again only after that count moved, so a scrape
// costs the families that changed since the last one and a copy of the others.

#include "DeviceMetrics.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TMetricsText {
public:
    explicit TMetricsText(const std::vector<TFamilySource>& families);

    // Every family's text in the order given, each with its HELP and TYPE once.
    std::string Text();

private:
    struct TFamilyText {
        TFamilySource Source;
        std::string Text;
        std::uint64_t Changes = 0;
        bool Made = false;
    };

    void Refresh(TFamilyText& family);

    std::mutex fLock;
    std::vector<TFamilyText> fFamilies;
};
