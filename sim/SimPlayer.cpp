#include "SimPlayer.h"

namespace {

// Goes back to the stream's first line; false when it cannot.
bool Rewind(std::istream& in) {
    in.clear();
    in.seekg(0);
    return !in.fail();
}

} // namespace

void PlayCommands(TSimFleet& fleet, std::istream& in, const std::string& source,
                  const TSimPrint& print, const TSimPrint& error) {
    std::string line;
    int number = 0;
    bool waited = false;
    while (fleet.Device(1).Running() && std::getline(in, line)) {
        ++number;
        const std::string where = source + ":" + std::to_string(number) + ": ";
        TSimEffect effect;
        const std::string failure = fleet.Execute(line, effect);
        if (!failure.empty()) {
            error(where + failure + "\n");
            continue;
        }
        print(effect.Output);
        waited = waited || effect.WaitMs > 0;
        if (!effect.Loop)
            continue;
        if (!waited) {
            error(where + "loop: no wait before it, so the script would never pause\n");
            return;
        }
        if (!Rewind(in)) {
            error(where + "loop: only a script file can start over\n");
            return;
        }
        number = 0;
        waited = false;
    }
}
