#include "TargetsReader.h"

#include <QMetaObject>
#include <mutex>
#include <thread>

// What the reader and its threads share: the object whose event loop takes the results,
// gone once the reader is.
struct TTargetsReader::TShared {
    std::mutex Lock;
    std::unique_ptr<QObject> Receiver = std::make_unique<QObject>();
};

TTargetsReader::TTargetsReader(TDone done)
    : fDone(std::move(done)), fShared(std::make_shared<TShared>()) {}

TTargetsReader::~TTargetsReader() {
    const std::lock_guard lock(fShared->Lock);
    fShared->Receiver.reset();
}

void TTargetsReader::Read(const std::string& fileName) {
    fFileName = fileName;
    if (fReading) {
        fAgain = true;
        return;
    }
    Start();
}

void TTargetsReader::Start() {
    fReading = true;
    std::thread([shared = fShared, fileName = fFileName, this] {
        TTargetsRead read;
        read.List = ReadTargetsFile(fileName, read.Error);
        const std::lock_guard lock(shared->Lock);
        if (shared->Receiver) {
            QMetaObject::invokeMethod(
                shared->Receiver.get(), [this, read] { Finished(read); }, Qt::QueuedConnection);
        }
    }).detach();
}

void TTargetsReader::Finished(const TTargetsRead& read) {
    fReading = false;
    if (fAgain) {
        fAgain = false;
        Start();
    }
    fDone(read);
}
