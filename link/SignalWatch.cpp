#include "SignalWatch.h"

TSignalWatch::TSignalWatch(const sigset_t& set, THandler handler)
    : fFile(set), fHandler(std::move(handler)),
      fNotifier(fFile.Descriptor(), QSocketNotifier::Read) {
    QObject::connect(&fNotifier, &QSocketNotifier::activated, [this] { TakeAll(); });
}

void TSignalWatch::TakeAll() {
    for (int signal = fFile.Take(); signal != 0; signal = fFile.Take())
        fHandler(signal);
}
