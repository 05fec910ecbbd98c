#pragma once

// Many links served by one thread: non-blocking sockets watched together, one deadline per
// link for its pauses and time limits, and each link's machine deciding every step. The
// links' notifications reach their window thread as the worker thread's do, so a link
// object behaves the same whichever drives it; only no thread is started per device.

#include "LinkMachine.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QObject;
class TSwObject;
class TLoopLink;

class TLinkLoop {
public:
    // Starts the loop's thread. Throws std::runtime_error when the system refuses the
    // descriptors it needs.
    TLinkLoop();
    // Every link the loop drove must have ended (a link object's Disconnect sees to it).
    ~TLinkLoop();
    TLinkLoop(const TLinkLoop&) = delete;
    TLinkLoop& operator=(const TLinkLoop&) = delete;

    // For the link objects: the driver's part of Connect, of a stop request, and of the
    // wait for the link's end. Any thread may call them.
    void Start(TSwObject& link, QObject* target, const TLinkSetup& setup);
    void RequestStop(TSwObject& link);
    // Returns once the loop has done with link.
    void WaitEnded(const TSwObject& link);

    // The loop's own thread: where the deadlines are kept, and the scratch room every link
    // decodes its replies into.
    class TCore;

private:
    struct TMail {
        TSwObject* Link = nullptr;
        // Null for a stop request.
        std::unique_ptr<TLoopLink> Served;
    };

    void Send(TMail mail);
    void Run();
    bool TakeMail();
    void Reap();

    std::unique_ptr<TCore> fCore;
    std::mutex fLock;
    std::condition_variable fEnded;
    std::vector<TMail> fMail;
    // Links started and not yet done with, under fLock.
    std::unordered_set<const TSwObject*> fActive;
    bool fQuit = false;
    // The loop thread's own.
    std::unordered_map<TSwObject*, std::unique_ptr<TLoopLink>> fServed;
    std::thread fThread;
};
