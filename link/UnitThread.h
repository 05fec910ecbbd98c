#pragma once

// The station's link to one device: a worker thread that connects, polls the five
// status groups, carries out write commands and measures the link, and a notification
// handler on the window thread that decodes what the worker posts into the status
// record and fires one event per changed field.

#include "CommandQueue.h"
#include "DeviceProtocol.h"
#include "LinkMachine.h"
#include "UnitProc.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QObject;
class TLinkLoop;
class TSwNotification;

// Check and power supply states.
constexpr int STATE_OFF = 0;
constexpr int STATE_OK = 1;
constexpr int STATE_ERROR = 2;
constexpr int STATE_NA = 3;

// Input numbers.
constexpr int INPUT_A = 1;
constexpr int INPUT_B = 2;

// Everything the device reported, written only by the notification handler.
// Per-input arrays are indexed by input number - 1.
struct TDeviceStatus {
    std::string DeviceName;
    int Output = 0;
    bool AutoMode = false;
    int VideoSync[2] = {};
    int VideoMotion[2] = {};
    int VideoLevel[2] = {};
    int AudioLeft[2] = {};
    int AudioRight[2] = {};
    int PsuMonitoring = 0;
    int Psu1State = 0;
    int Psu2State = 0;
    bool TempValid = false;
    int Temperature = 0;
    bool SyncControl = false;
    int SyncTime = 0;
    bool MotionControl = false;
    int MotionTime = 0;
    bool VideoLevelControl = false;
    int VideoLevelValue = 0;
    int VideoLevelTime = 0;
    bool ThresholdControl = false;
    int ThresholdValue = 0;
    int ThresholdTime = 0;
    bool AudioLevelControl = false;
    int AudioLevelValue = 0;
    int AudioLevelTime = 0;
    bool RecoveryControl = false;
    int RecoveryTime = 0;
    int SyncCount[2] = {};
    int MotionCount[2] = {};
    int VideoLevelCount[2] = {};
    int ThresholdLeftCount[2] = {};
    int ThresholdRightCount[2] = {};
    int AudioLevelLeftCount[2] = {};
    int AudioLevelRightCount[2] = {};
};

// The listeners of one event, called in the order they were added. A listener stays until
// the slot is emptied (slot = {}); none may be added to a slot while that slot is firing.
template <typename TListener> class TListeners {
public:
    void Listen(TListener listener) { fListeners.push_back(std::move(listener)); }

    template <typename... TArgs> void operator()(const TArgs&... args) const {
        for (const TListener& listener : fListeners)
            listener(args...);
    }

private:
    std::vector<TListener> fListeners;
};

class TSwObject {
public:
    using TNotifyEvent = std::function<void(TSwObject* sender)>;
    using TInputEvent = std::function<void(TSwObject* sender, int input)>;
    using TConnectedEvent = std::function<void(TSwObject* sender, bool connected)>;
    using TStopEvent = std::function<void(TSwObject* sender, int code)>;
    using TLinkStatEvent = std::function<void(TSwObject* sender, std::uint32_t value, int kind)>;
    using TNotifySlot = TListeners<TNotifyEvent>;
    using TInputSlot = TListeners<TInputEvent>;

    // Must be created on the thread whose event loop is to run the events. Each connection
    // runs on a worker thread of its own, or, with a loop, on the loop's thread.
    TSwObject();
    explicit TSwObject(TLinkLoop& loop);
    ~TSwObject();
    TSwObject(const TSwObject&) = delete;
    TSwObject& operator=(const TSwObject&) = delete;

    // Starts a connection and returns at once; does nothing while a worker exists.
    void Connect(const std::string& address, std::int32_t port);
    // The shortest time one poll cycle may take; a faster cycle waits out the rest before
    // the next begins. 0, the default, lets cycles follow each other at once. Takes
    // effect at the next Connect.
    void SetMinCyclePeriod(std::chrono::milliseconds period);
    // The times the link waits; takes effect at the next Connect.
    void SetTiming(const TLinkTiming& timing);
    // Hands the worker's replies and command ends to tap as well (see LinkTap.h); null,
    // the default, for none. Takes effect at the next Connect.
    void SetTap(std::shared_ptr<TLinkTap> tap);
    // Stops the worker and returns once it has ended.
    void Disconnect();
    // Asks the worker to stop and returns at once; Disconnect then waits for the end. Lets
    // many links stop side by side.
    void BeginDisconnect();
    bool IsRunning() const;
    bool IsConnected() const;

    // Commands, dropped silently unless connected.
    void SelectInput(std::int32_t input);
    void SetAutoMode();
    void WriteSettings(const TSettingsBlock& block);
    void SetPowerMonitoring(std::int32_t mask);

    const std::string& Address() const { return fAddress; }
    std::int32_t Port() const { return fPort; }
    std::int32_t LastError() const { return fLastError.load(); }
    const TDeviceStatus& Status() const { return fStatus; }

    const std::string& DeviceName() const { return fStatus.DeviceName; }
    int Output() const { return fStatus.Output; }
    bool AutoMode() const { return fStatus.AutoMode; }
    int PsuMonitoring() const { return fStatus.PsuMonitoring; }
    int Psu1State() const { return fStatus.Psu1State; }
    int Psu2State() const { return fStatus.Psu2State; }
    bool TempValid() const { return fStatus.TempValid; }
    int Temperature() const { return fStatus.Temperature; }

    // Per-input values; 0 for an input number other than 1 or 2.
    int VideoSync(int input) const { return PerInput(fStatus.VideoSync, input); }
    int VideoMotion(int input) const { return PerInput(fStatus.VideoMotion, input); }
    int VideoLevel(int input) const { return PerInput(fStatus.VideoLevel, input); }
    int AudioLeft(int input) const { return PerInput(fStatus.AudioLeft, input); }
    int AudioRight(int input) const { return PerInput(fStatus.AudioRight, input); }
    int SyncCount(int input) const { return PerInput(fStatus.SyncCount, input); }
    int MotionCount(int input) const { return PerInput(fStatus.MotionCount, input); }
    int VideoLevelCount(int input) const { return PerInput(fStatus.VideoLevelCount, input); }
    int ThresholdLeftCount(int input) const { return PerInput(fStatus.ThresholdLeftCount, input); }
    int ThresholdRightCount(int input) const {
        return PerInput(fStatus.ThresholdRightCount, input);
    }
    int AudioLevelLeftCount(int input) const {
        return PerInput(fStatus.AudioLevelLeftCount, input);
    }
    int AudioLevelRightCount(int input) const {
        return PerInput(fStatus.AudioLevelRightCount, input);
    }

    // The notification handler: the window thread runs it for every notification the
    // worker posts. Decodes groups into the status record and fires the events.
    void HandleNotification(const TSwNotification& notification);

    // Shared by this link's worker and its notification handler. FullRefresh is set from
    // a Connect until the first complete set of device data has been delivered; the two
    // written flags from the worker's taking of a write until the next notification of
    // its group.
    std::atomic<bool> FullRefresh{true};
    std::atomic<bool> SettingsWritten{false};
    std::atomic<bool> PowerWritten{false};

    // The events; each takes any number of listeners (OnOutput.Listen(...)).
    TListeners<TConnectedEvent> OnConnected;
    TListeners<TStopEvent> OnStop;
    TListeners<TLinkStatEvent> OnLinkStat;
    TNotifySlot OnDeviceName;
    TNotifySlot OnOutput;
    TNotifySlot OnAutoMode;
    TInputSlot OnVideoSync;
    TInputSlot OnVideoMotion;
    TInputSlot OnVideoLevel;
    TInputSlot OnAudioLeft;
    TInputSlot OnAudioRight;
    TNotifySlot OnPsuMonitoring;
    TNotifySlot OnPsu1State;
    TNotifySlot OnPsu2State;
    TNotifySlot OnTempValid;
    TNotifySlot OnTemperature;
    TNotifySlot OnSyncControl;
    TNotifySlot OnSyncTime;
    TNotifySlot OnMotionControl;
    TNotifySlot OnMotionTime;
    TNotifySlot OnVideoLevelControl;
    TNotifySlot OnVideoLevelValue;
    TNotifySlot OnVideoLevelTime;
    TNotifySlot OnThresholdControl;
    TNotifySlot OnThresholdValue;
    TNotifySlot OnThresholdTime;
    TNotifySlot OnAudioLevelControl;
    TNotifySlot OnAudioLevelValue;
    TNotifySlot OnAudioLevelTime;
    TNotifySlot OnRecoveryControl;
    TNotifySlot OnRecoveryTime;
    TNotifySlot OnCounters;

private:
    class TWorker;
    friend class TLoopLink;

    static int PerInput(const int (&values)[2], int input) {
        return input == INPUT_A || input == INPUT_B ? values[input - 1] : 0;
    }

    void PostCommand(const TCommand& command);
    void WaitForWorker();
    void WakeWorker();

    void DecodeIdentity(const std::uint8_t* payload);
    void DecodeState(const std::uint8_t* payload);
    void DecodeSettings(const std::uint8_t* payload);
    void DecodePower(const std::uint8_t* payload);
    void DecodeCounters(const std::uint8_t* payload);

    // Receives the worker's notifications on the window thread.
    std::unique_ptr<QObject> fTarget;
    // Drives the connections instead of a worker thread when set.
    TLinkLoop* const fLoop = nullptr;
    std::thread fThread;
    std::atomic<bool> fRunning{false};
    std::atomic<bool> fStop{true};
    std::atomic<TSocket> fSocket{INVALID_SOCKET};
    std::string fAddress = "127.0.0.1";
    std::int32_t fPort = DEVICE_PORT;
    std::atomic<std::int32_t> fLastError{0};
    TLinkSetup fSetup;
    // The worker waits here between cycles that are shorter than the minimum period.
    std::mutex fWakeLock;
    std::condition_variable fWake;
    TCommandQueue fCommands;
    TDeviceStatus fStatus;
};
