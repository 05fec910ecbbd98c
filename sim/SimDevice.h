#pragma once

// A simulated changeover switch on a TCP port: it serves one station at a time with the
// device's framed request set, holds a device state that scripts and the station's writes
// change, misbehaves on request, and records every payload it receives.
//
// An event loop (SimLoop.h) serves the sockets: a loop of the device's own, or one that
// serves a whole fleet. Every public operation may be called from any thread at any time.
// Execute is how tests and trainers play a scene:
//
//     TSimOptions options;
//     options.Port = 0;
//     TSimDevice device(options);
//     device.Start();                        // then connect to 127.0.0.1:device.Port()
//     device.Execute("check A sync error");  // the device changes over to input B
//     device.WaitReceived(5, 2s);            // the station's first cycle has arrived

#include "NBSockets30.h"
#include "SimFaults.h"
#include "SimLoop.h"
#include "SimScript.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One payload received from the station, with the time its frame was complete.
struct TSimRecord {
    std::chrono::steady_clock::time_point Time;
    TSimBytes Payload;
};

struct TSimOptions {
    // IPv4 address to listen on, as a dotted quad.
    std::string Address = "127.0.0.1";
    // Port to listen on; 0 lets the system pick a free one (see Port()).
    int Port = 10001;
    // The device state and faults at start; Scene.Faults.Refuse starts without listening.
    TSimScene Scene;
    // Called on the loop's thread with one line for each connection event, each payload
    // received and each answer sent. May be empty.
    std::function<void(const std::string&)> OnEvent;
    // Keeps every payload received for Received() and the waits on it. A device that
    // serves for hours without anyone reading them leaves it off.
    bool Record = true;
};

class TSimDevice {
public:
    // Served by a loop of its own, started and stopped with the device.
    explicit TSimDevice(TSimOptions options = {});
    // Served by loop, which outlives the device and runs while it is started.
    TSimDevice(TSimOptions options, TSimLoop& loop);
    // Stops the device.
    ~TSimDevice();
    TSimDevice(const TSimDevice&) = delete;
    TSimDevice& operator=(const TSimDevice&) = delete;

    // Starts listening (unless the refuse fault is on) and serving. False when the address
    // is not a dotted quad, the port cannot be bound, or it already runs.
    bool Start();
    // Closes every connection and the listener; waits until the loop has done so.
    void Stop();

    // The port listened on: the port picked by the system once listening on port 0.
    int Port() const { return fPort.load(); }

    // Runs one command of the script language (see SimScript.h). Returns an empty string
    // on success, otherwise the one-line error text, and nothing changed. "wait" blocks the
    // caller (Stop ends the wait early); "drop" and "fault refuse" take effect before
    // Execute returns, after the reply under way if any. Text the command prints goes to
    // output.
    std::string Execute(const std::string& line);
    std::string Execute(const std::string& line, std::string& output);
    // The same, giving everything the command asked for: its Output, and Loop for whoever
    // plays a script. "wait-station" blocks until a station is connected (Stop ends the
    // wait early).
    std::string Execute(const std::string& line, TSimEffect& effect);

    // True from Start until Stop.
    bool Running() const;

    // Snapshots of the device state and of the faults.
    TSimState State() const;
    TSimFaults Faults() const;

    // Every payload received since Start or the last ClearReceived, oldest first. Unknown
    // requests are recorded too; frames that fail the codec's checks are not.
    std::vector<TSimRecord> Received() const;
    void ClearReceived();
    // Waits until done holds for the received payloads, at most timeout; done is called
    // under the device's lock, so it must not call back into the device. True when it held.
    bool WaitUntil(const std::function<bool(const std::vector<TSimRecord>&)>& done,
                   std::chrono::milliseconds timeout) const;
    // Waits until at least count payloads have been received.
    bool WaitReceived(std::size_t count, std::chrono::milliseconds timeout) const;

    // Requests received since construction, answered or not.
    std::uint64_t Requests() const { return fRequests.load(); }

    // Stations accepted and served since construction (turned-away second stations do not
    // count), and whether one is connected now.
    int Connections() const;
    bool StationConnected() const;
    // Waits until Connections() reaches count.
    bool WaitConnections(int count, std::chrono::milliseconds timeout) const;
    // Waits until StationConnected() equals connected.
    bool WaitStation(bool connected, std::chrono::milliseconds timeout) const;

private:
    // A reply on its way out: the bytes, and how far they have gone.
    struct TReply {
        TSimBytes Bytes;
        // Bytes to send before the reply is done (fewer than all for close-mid-frame).
        std::size_t Count = 0;
        std::size_t Sent = 0;
        // The end of the bytes sent in one go: one byte when they go out one by one.
        std::size_t ChunkEnd = 0;
        int ByteDelayMs = 0;
        bool CloseAfter = false;
        // Waiting for the socket to take the rest of the chunk.
        bool Flushing = false;
    };

    bool OpenListener();
    void CloseListener();
    void Detach();
    void ApplyRequests();
    void FollowRefuse(bool refuse);
    void Settle();
    void WatchSockets();
    void AcceptStation();
    void OnStation();
    void ReadStation();
    void TakeFrames();
    void HandlePayload(const TSimBytes& payload);
    void BeginReply(TSimBytes frame, const TSimFaults& faults);
    void SendChunk();
    void FlushChunk();
    void EndReply(bool sent);
    void DropReply();
    void CloseStation(const std::string& reason);
    void Pause(int ms) const;
    void WaitForStation() const;
    void WaitServed(int ticket);
    void Report(const std::string& line) const;
    bool Reporting() const { return static_cast<bool>(fOptions.OnEvent); }

    TSimOptions fOptions;
    std::atomic<int> fPort;
    std::atomic<std::uint64_t> fRequests{0};
    std::unique_ptr<TSimLoop> fOwnLoop;
    TSimLoop& fLoop;

    // Guarded by fLock; fChanged is notified whenever any of them changes.
    mutable std::mutex fLock;
    mutable std::condition_variable fChanged;
    TSimScene fScene;
    std::vector<TSimRecord> fReceived;
    int fConnections = 0;
    bool fStationConnected = false;
    bool fRunning = false;
    bool fStopping = false;
    bool fDropRequested = false;
    // Requests to the loop are numbered; fServed is the last one carried out.
    int fRequested = 0;
    int fServed = 0;

    // The loop's while the device runs.
    TSocket fListener = INVALID_SOCKET;
    TSocket fStation = INVALID_SOCKET;
    TSimBytes fPending;
    std::optional<TReply> fReply;
    // Between the steps of a reply: its delay, or the pause between two bytes.
    TSimLoop::TTimer fReplyTimer;
    // Ends a reply whose chunk the station has not taken in time.
    TSimLoop::TTimer fSendDeadline;
    // Execute asked for a drop or refuse while a reply was under way.
    bool fRequestsDeferred = false;
};
