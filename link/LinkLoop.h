#pragma once

// Many links served by one event loop's thread: non-blocking sockets watched together, one
// deadline per link for its pauses and time limits, and each link's machine deciding every
// step. The links' notifications reach their window thread as the worker thread's do, so a
// link object behaves the same whichever drives it; only no thread is started per device.

#include "LinkMachine.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

class QObject;
class TEventLoop;
class TSwObject;
class TLoopLink;

class TLinkLoop {
public:
    // Drives the links on an event loop of its own. Throws std::runtime_error when the
    // system refuses the descriptors it needs.
    TLinkLoop();
    // Drives the links on loop, which outlives this and may serve others besides.
    explicit TLinkLoop(TEventLoop& loop);
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

    // What every link shares on the loop's thread: the loop, and the scratch room every
    // link decodes its replies into.
    class TCore;

private:
    // The loop's thread.
    void Begin(std::unique_ptr<TLoopLink> served);
    void Stop(TSwObject& link);
    void Reap(TLoopLink& ended);

    std::unique_ptr<TEventLoop> fOwnLoop;
    TEventLoop& fLoop;
    std::unique_ptr<TCore> fCore;
    std::mutex fLock;
    std::condition_variable fEnded;
    // Links started and not yet done with, under fLock.
    std::unordered_set<const TSwObject*> fActive;
    // The loop thread's own.
    std::unordered_map<TSwObject*, std::unique_ptr<TLoopLink>> fServed;
};
