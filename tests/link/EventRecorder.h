#pragma once

// Wires every event slot of a link object to a list of lines such as "VideoSync 1" or
// "Stop 1003", so tests can compare the events fired and their order.

#include "UnitThread.h"

#include <string>
#include <vector>

class EventRecorder {
public:
    explicit EventRecorder(TSwObject& link);

    std::vector<std::string> Lines;

    // Lines recorded from index from on.
    std::vector<std::string> Since(std::size_t from) const {
        return {Lines.begin() + static_cast<std::ptrdiff_t>(from), Lines.end()};
    }
};

// lines without the link statistics, which come at times of their own.
std::vector<std::string> WithoutLinkStats(const std::vector<std::string>& lines);
bool Contains(const std::vector<std::string>& lines, const std::string& line);
