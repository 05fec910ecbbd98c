#pragma once

// Reads the targets file on a thread of its own: a file that blocks -- on a network
// mount that hangs -- holds up neither the event loop, nor signals, nor the exporter's end.

#include "Targets.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// What a read of the targets file gave: the list, or the reason there is none.
struct TTargetsRead {
    std::optional<TTargetList> List;
    std::string Error;
};

class TTargetsReader {
public:
    using TDone = std::function<void(const TTargetsRead&)>;

    // done gets each read's result on the thread that made the reader, from its event loop.
    explicit TTargetsReader(TDone done);
    // A read still running is left to end by itself; its result is dropped.
    ~TTargetsReader();
    TTargetsReader(const TTargetsReader&) = delete;
    TTargetsReader& operator=(const TTargetsReader&) = delete;

    // Starts reading the file. Asked while a read runs, the file is read again after it.
    void Read(const std::string& fileName);

private:
    struct TShared;

    void Start();
    void Finished(const TTargetsRead& read);

    TDone fDone;
    std::shared_ptr<TShared> fShared;
    std::string fFileName;
    bool fReading = false;
    bool fAgain = false;
};
