#include "Relay.h"

#include "EventLoop.h"
#include "Listener.h"
#include "RelayClient.h"
#include "UnitThread.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using namespace std::chrono_literals;
using TFields = TLogFields;

constexpr int ACCEPT_BATCH = 64;
constexpr auto SWEEP_PERIOD = 1s;
// How often writes waiting for the device are looked at for their time limit.
constexpr auto WRITE_SWEEP_PERIOD = 10ms;
// Unanswered requests logged per client; the rest are counted.
constexpr int LOGGED_UNANSWERED = 10;
constexpr auto REFUSAL_LOG_PERIOD = 1s;

// A write's result: its label in metrics and logs, and its words in the log's message.
struct TWriteResult {
    const char* Label;
    const char* Words;
    TLogLevel Level;
};

constexpr TWriteResult ACKNOWLEDGED{"acknowledged", "acknowledged", TLogLevel::Info};
constexpr TWriteResult REFUSED{"refused", "refused", TLogLevel::Warn};
constexpr TWriteResult FAILED{"failed", "failed", TLogLevel::Warn};
constexpr TWriteResult NOT_ALLOWED{"not_allowed", "not allowed", TLogLevel::Warn};

TWriteResult ResultOf(TCommandEnd end) {
    switch (end) {
    case TCommandEnd::Done:
        return ACKNOWLEDGED;
    case TCommandEnd::Refused:
        return REFUSED;
    default:
        return FAILED;
    }
}

std::string PeerText(const sockaddr_in& peer) {
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

// Lets the process hold as many connections as the system allows it.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// The command's own fields in the audit: the input, the mask or the settings changed.
void AddCommandFields(const TRelayWrite& write, TFields& fields) {
    const TCommand& command = write.Command;
    if (command.Code == CMD_SELECT_INPUT)
        fields.emplace_back("input", command.Argument == INPUT_B ? "B" : "A");
    else if (command.Code == CMD_POWER_MONITORING)
        fields.emplace_back("mask", command.Argument);
    else if (command.Code == CMD_WRITE_SETTINGS)
        fields.emplace_back("changes", write.Changes);
}

// One device's relay: where it listens, its clients and its writes.
struct TPort {
    TPort(std::string device, const TRelayEndpoint& endpoint, std::shared_ptr<TRelayFeed> feed,
          TRelayFamilies& families)
        : Device(std::move(device)), Endpoint(endpoint), Feed(std::move(feed)),
          Metrics(families, Device) {}

    const std::string Device;
    TRelayEndpoint Endpoint;
    const std::shared_ptr<TRelayFeed> Feed;
    TRelayMetrics Metrics;
    // Set whenever the feed has news.
    std::atomic<bool> Dirty{true};
    // Set when a write has ended, so that its clients are answered.
    bool AnswersDue = false;
    TSocket Listener = INVALID_SOCKET;
    TEventLoop::TWatchId ListenerWatch = 0;
    // The port the system picked the first time, kept for the device's next connections.
    int PickedPort = 0;
    // A failure to listen is logged once per device connection.
    bool ListenFailed = false;
    // Clients turned away: the time of the last one logged, and those since.
    TRelayClock::time_point LastRefusal{};
    int RefusalsNotLogged = 0;
    // The device connection served, 0 while the device is down.
    std::uint64_t Connection = 0;
    std::map<std::uint64_t, std::unique_ptr<TRelayClient>> Clients;
    std::deque<std::shared_ptr<TRelayWrite>> Writes;
    std::shared_ptr<TRelayWrite> InFlight;
};

// What the relay is asked to do on the loop's thread: serve a device at an endpoint, or
// stop.
struct TOrder {
    std::string Device;
    std::optional<TRelayEndpoint> Endpoint;
    std::shared_ptr<TRelayFeed> Feed;
};

} // namespace

class TRelay::TLoop {
public:
    TLoop(TEventLoop& loop, const TRelayOptions& options, TRelayFamilies& families, TRelayLog log)
        : fLoop(loop), fOptions(options), fFamilies(families), fLog(std::move(log)),
          fSweeper(loop, [this](TRelayClock::time_point now) { Sweep(now); }) {
        RaiseDescriptorLimit();
        fLoop.Post([this] { Rearm(); });
    }

    // Every port is retired; a tending asked for before the feeds were let go of has run
    // by the time the second call returns.
    ~TLoop() {
        fLoop.Call([this] {
            while (!fPorts.empty())
                Remove(fPorts.begin()->first, TRelayClock::now());
            fSweeper.Cancel();
        });
        fLoop.Call([] {});
    }

    TLoop(const TLoop&) = delete;
    TLoop& operator=(const TLoop&) = delete;

    // Any thread: queues an order; a stop order is waited for.
    void Order(TOrder order) {
        const bool wait = !order.Endpoint;
        auto carry = [this, order = std::move(order)]() mutable { CarryOut(std::move(order)); };
        if (wait)
            fLoop.Call(std::move(carry));
        else
            fLoop.Post(std::move(carry));
    }

private:
    // Any thread: the ports are looked at on the loop's thread, once for any number of
    // calls before it.
    void RequestTend() {
        if (!fTendRequested.exchange(true))
            fLoop.Post([this] { TendAll(); });
    }

    void TendAll() {
        fTendRequested = false;
        const auto now = TRelayClock::now();
        for (auto& [device, port] : fPorts)
            Tend(*port, now);
    }

    void Tend(TPort& port, TRelayClock::time_point now) {
        if (port.Dirty.exchange(false))
            Follow(port, now);
        if (std::exchange(port.AnswersDue, false))
            AnswerAll(port, now);
    }

    // ---- Readiness ---------------------------------------------------------------------

    void Watch(TPort& port, std::uint64_t id, TSocket socket) {
        fWatches[id] = fLoop.Watch(
            socket, EPOLLIN, [this, &port, id](std::uint32_t events, TRelayClock::time_point now) {
                Serve(port, id, events, now);
            });
    }

    void Unwatch(std::uint64_t id) {
        const auto found = fWatches.find(id);
        fLoop.Unwatch(found->second);
        fWatches.erase(found);
    }

    // ---- Orders from other threads -----------------------------------------------------

    void CarryOut(TOrder order) {
        if (!order.Endpoint)
            return Remove(order.Device, TRelayClock::now());
        Place(order.Device, *order.Endpoint, std::move(order.Feed));
        RequestTend();
    }

    void Place(const std::string& device, const TRelayEndpoint& endpoint,
               std::shared_ptr<TRelayFeed> feed) {
        const auto found = fPorts.find(device);
        if (found != fPorts.end()) {
            Move(*found->second, endpoint);
            return;
        }
        auto port = std::make_unique<TPort>(device, endpoint, feed, fFamilies);
        feed->SetWake([this, raw = port.get()] {
            raw->Dirty = true;
            RequestTend();
        });
        fPorts.emplace(device, std::move(port));
    }

    void Move(TPort& port, const TRelayEndpoint& endpoint) {
        if (port.Endpoint == endpoint)
            return;
        CloseClients(port, "relay moved");
        CloseListener(port);
        port.Endpoint = endpoint;
        port.PickedPort = 0;
        port.Dirty = true;
    }

    void Remove(const std::string& device, TRelayClock::time_point now) {
        const auto found = fPorts.find(device);
        if (found == fPorts.end())
            return;
        found->second->Feed->SetWake(nullptr);
        Retire(*found->second, "relay stopped", now);
        fPorts.erase(found);
    }

    // ---- The device's state ------------------------------------------------------------

    void Follow(TPort& port, TRelayClock::time_point now) {
        if (auto outcome = port.Feed->TakeOutcome(); outcome && port.InFlight)
            EndWrite(port, port.InFlight, *outcome, now);
        const std::uint64_t serving = port.Feed->Serving();
        if (serving != port.Connection) {
            if (port.Connection != 0)
                Retire(port, "device stopped", now);
            port.Connection = serving;
            port.ListenFailed = false;
        }
        if (port.Connection != 0 && port.Listener == INVALID_SOCKET)
            OpenListener(port);
        StartNextWrite(port, now);
    }

    // Everything of the device's connection ends: clients, listener, writes.
    void Retire(TPort& port, const std::string& reason, TRelayClock::time_point now) {
        CloseClients(port, reason);
        CloseListener(port);
        if (port.InFlight)
            EndWrite(port, port.InFlight, TCommandOutcome{port.InFlight->Command}, now);
        for (const auto& write : port.Writes)
            EndWrite(port, write, TCommandOutcome{write->Command}, now);
        port.Writes.clear();
    }

    void OpenListener(TPort& port) {
        const std::string address =
            port.Endpoint.Address.empty() ? fOptions.ListenAddress : port.Endpoint.Address;
        const int wanted = port.Endpoint.Port != 0 ? port.Endpoint.Port : port.PickedPort;
        if (!ListenOn(address, wanted, SOMAXCONN, port.Listener)) {
            const int error = errno;
            if (!std::exchange(port.ListenFailed, true)) {
                Log(port, TLogLevel::Error, "relay_error", "Relay cannot listen",
                    {{"address", address + ":" + std::to_string(wanted)},
                     {"error", strerror(error)}});
            }
            return;
        }
        port.PickedPort = BoundPort(port.Listener);
        port.ListenerWatch = fLoop.Watch(
            port.Listener, EPOLLIN,
            [this, &port](std::uint32_t, TRelayClock::time_point now) { Accept(port, now); });
        Log(port, TLogLevel::Info, "relay_listen", "Relay listening",
            {{"address", address + ":" + std::to_string(port.PickedPort)}});
    }

    void CloseListener(TPort& port) {
        if (port.Listener == INVALID_SOCKET)
            return;
        fLoop.Unwatch(std::exchange(port.ListenerWatch, 0));
        SocketShutdown(port.Listener);
    }

    // ---- Clients -----------------------------------------------------------------------

    void Accept(TPort& port, TRelayClock::time_point now) {
        for (int i = 0; i < ACCEPT_BATCH && port.Listener != INVALID_SOCKET; ++i) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const TSocket socket = accept4(port.Listener, reinterpret_cast<sockaddr*>(&peer), &size,
                                           SOCK_NONBLOCK | SOCK_CLOEXEC);
            const int error = errno;
            if (socket != INVALID_SOCKET)
                Admit(port, socket, peer, now);
            else if (error == EMFILE || error == ENFILE)
                PauseListening(port, error);
            else if (error != ECONNABORTED && error != EINTR)
                return;
        }
    }

    // Out of descriptors: the listener closes, and the sweep opens it again.
    void PauseListening(TPort& port, int error) {
        port.Metrics.Refused("no_descriptors");
        Log(port, TLogLevel::Error, "relay_error", "Relay stops listening for a while",
            {{"error", strerror(error)}});
        CloseListener(port);
    }

    void Admit(TPort& port, TSocket socket, const sockaddr_in& peer, TRelayClock::time_point now) {
        const std::string client = PeerText(peer);
        if (port.Clients.size() >= static_cast<std::size_t>(fOptions.MaxClients)) {
            close(socket);
            RefuseClient(port, client, now);
            return;
        }
        int on = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const bool mayWrite = InRanges(fOptions.AllowWrite, ntohl(peer.sin_addr.s_addr));
        const std::uint64_t id = ++fLastId;
        auto& added = port.Clients[id];
        added = std::make_unique<TRelayClient>(socket, client, mayWrite, now);
        Watch(port, id, socket);
        port.Metrics.SetClients(port.Clients.size());
        Log(port, TLogLevel::Info, "relay_client", "Relay client connected",
            {{"client", client}, {"writes", mayWrite ? "allowed" : "not_allowed"}});
    }

    // One line a second at most, however fast clients come: the others are counted in it.
    void RefuseClient(TPort& port, const std::string& client, TRelayClock::time_point now) {
        port.Metrics.Refused("max_clients");
        if (now - port.LastRefusal < REFUSAL_LOG_PERIOD) {
            ++port.RefusalsNotLogged;
            return;
        }
        TFields fields{{"client", client}, {"reason", "max_clients"}};
        if (port.RefusalsNotLogged > 0)
            fields.emplace_back("refused_since_last_line", port.RefusalsNotLogged);
        port.LastRefusal = now;
        port.RefusalsNotLogged = 0;
        Log(port, TLogLevel::Warn, "relay_refused", "Relay client refused", std::move(fields));
    }

    void Close(TPort& port, std::uint64_t id, const std::string& reason) {
        const auto found = port.Clients.find(id);
        if (found == port.Clients.end())
            return;
        const TRelayClient& client = *found->second;
        TFields fields{{"client", client.Peer()}, {"reason", reason}};
        if (client.Unlogged > 0)
            fields.emplace_back("unanswered_not_logged", client.Unlogged);
        Unwatch(id);
        port.Clients.erase(found);
        port.Metrics.SetClients(port.Clients.size());
        Log(port, TLogLevel::Info, "relay_client", "Relay client closed", std::move(fields));
    }

    void CloseClients(TPort& port, const std::string& reason) {
        while (!port.Clients.empty())
            Close(port, port.Clients.begin()->first, reason);
    }

    void CloseIdle(TPort& port, TRelayClock::time_point now) {
        for (const std::uint64_t id : ClientIds(port)) {
            if (now - port.Clients.at(id)->LastRequest > RELAY_IDLE_LIMIT)
                Close(port, id, "idle for 10 s");
        }
    }

    static std::vector<std::uint64_t> ClientIds(const TPort& port) {
        std::vector<std::uint64_t> ids;
        ids.reserve(port.Clients.size());
        for (const auto& [id, client] : port.Clients)
            ids.push_back(id);
        return ids;
    }

    // A client's socket is ready: take what it sent, answer what can be answered.
    void Serve(TPort& port, std::uint64_t id, std::uint32_t events, TRelayClock::time_point now) {
        TRelayClient& client = *port.Clients.at(id);
        std::string reason;
        if ((events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0 && !client.Receive(reason))
            return Close(port, id, reason);
        if (TakeRequests(port, id, client, now))
            Answer(port, id, client, now);
    }

    // Sends every answer that is due and what the socket takes of it.
    void Answer(TPort& port, std::uint64_t id, TRelayClient& client, TRelayClock::time_point now) {
        Flush(port, client, now);
        std::string reason;
        if (!client.Send(reason))
            return Close(port, id, reason);
        fLoop.Rewatch(fWatches.at(id), client.WantedEvents());
        if (!client.Tickets.empty() && !std::exchange(fTicketsWaiting, true))
            Rearm();
    }

    void AnswerAll(TPort& port, TRelayClock::time_point now) {
        for (const std::uint64_t id : ClientIds(port))
            Answer(port, id, *port.Clients.at(id), now);
    }

    // False when the client was closed.
    bool TakeRequests(TPort& port, std::uint64_t id, TRelayClient& client,
                      TRelayClock::time_point now) {
        for (TFrameScan scan = client.NextFrame(); scan != TFrameScan::None;
             scan = client.NextFrame()) {
            client.LastRequest = now;
            if (scan == TFrameScan::Payload && !TakeRequest(port, id, client, now))
                return false;
            if (scan == TFrameScan::Broken)
                Unanswered(port, client, "broken_frame", "");
            if (scan == TFrameScan::Overlong)
                Unanswered(port, client, "overlong_frame", "");
        }
        return true;
    }

    bool TakeRequest(TPort& port, std::uint64_t id, TRelayClient& client,
                     TRelayClock::time_point now) {
        const TRelayRequest request = ClassifyRequest(client.Payload());
        switch (request.Kind) {
        case TRequestKind::Read:
            client.Tickets.push_back({request.Group, nullptr, now});
            return true;
        case TRequestKind::Write:
            if (!client.MayWrite()) {
                RefuseWrite(port, client, request.Command);
                Close(port, id, "write not allowed");
                return false;
            }
            TakeWrite(port, client, request.Command, now);
            return true;
        default:
            Unanswered(port, client, "unknown_request", PayloadText(client.Payload()));
            return true;
        }
    }

    void Unanswered(TPort& port, TRelayClient& client, const std::string& reason,
                    const std::string& payload) {
        port.Metrics.Refused(reason);
        if (client.Unanswered == LOGGED_UNANSWERED) {
            ++client.Unlogged;
            return;
        }
        ++client.Unanswered;
        TFields fields{{"client", client.Peer()}, {"reason", reason}};
        if (!payload.empty())
            fields.emplace_back("payload", payload);
        Log(port, TLogLevel::Warn, "relay_request", "Request left unanswered", std::move(fields));
    }

    // Answers the client's requests in order, as far as their answers are known.
    void Flush(TPort& port, TRelayClient& client, TRelayClock::time_point now) {
        while (!client.Tickets.empty()) {
            const TTicket& ticket = client.Tickets.front();
            if (ticket.Write && !Settled(client, ticket, now))
                return;
            if (!ticket.Write)
                AnswerRead(port, client, ticket.Group, now);
            client.Tickets.pop_front();
        }
    }

    void AnswerRead(TPort& port, TRelayClient& client, int group, TRelayClock::time_point now) {
        TReplyBytes reply;
        TRelayClock::duration age{};
        if (!port.Feed->FreshReply(port.Connection, group, now, RELAY_MAX_DATA_AGE, reply, age)) {
            port.Metrics.Refused("stale_data");
            return;
        }
        client.Reply(reply.Bytes.data(), reply.Length);
        port.Metrics.Served(age);
    }

    // True once a write request's answer is known: the device's acknowledgement when it
    // came within the time limit, otherwise none.
    static bool Settled(TRelayClient& client, const TTicket& ticket, TRelayClock::time_point now) {
        const TRelayWrite& write = *ticket.Write;
        if (!write.Outcome)
            return now > ticket.Deadline;
        if (write.Outcome->End == TCommandEnd::Done && write.Ended <= ticket.Deadline)
            client.Reply(write.Outcome->Reply.data(), write.Outcome->ReplyLength);
        return true;
    }

    // ---- Writes ------------------------------------------------------------------------

    // A write from the client; the same write sent again while it is pending is not
    // a second one.
    void TakeWrite(TPort& port, TRelayClient& client, const TCommand& command,
                   TRelayClock::time_point now) {
        auto& last = client.LastWrite;
        if (!last || last->Outcome || last->Request != client.Payload()) {
            last = std::make_shared<TRelayWrite>(command, client.Payload(), client.Peer(), now);
            port.Writes.push_back(last);
        }
        client.Tickets.push_back({0, last, now + RELAY_WRITE_LIMIT});
        StartNextWrite(port, now);
    }

    void StartNextWrite(TPort& port, TRelayClock::time_point now) {
        while (!port.InFlight && !port.Writes.empty() && port.Connection != 0) {
            const auto write = port.Writes.front();
            port.Writes.pop_front();
            if (write->Command.Code == CMD_WRITE_SETTINGS)
                write->Changes =
                    SettingsChanges(port.Feed->Settings().data(), write->Command.Settings);
            if (port.Feed->Post(port.Connection, write->Command))
                port.InFlight = write;
            else
                EndWrite(port, write, TCommandOutcome{write->Command}, now);
        }
    }

    void EndWrite(TPort& port, const std::shared_ptr<TRelayWrite>& write,
                  const TCommandOutcome& outcome, TRelayClock::time_point now) {
        write->Outcome = outcome;
        write->Ended = now;
        Audit(port, *write, ResultOf(outcome.End), now - write->Received);
        if (port.InFlight == write)
            port.InFlight.reset();
        port.AnswersDue = true;
        RequestTend();
    }

    void RefuseWrite(TPort& port, const TRelayClient& client, const TCommand& command) {
        TRelayWrite write(command, client.Payload(), client.Peer(), {});
        if (command.Code == CMD_WRITE_SETTINGS)
            write.Changes = SettingsChanges(port.Feed->Settings().data(), command.Settings);
        port.Metrics.Refused("write_not_allowed");
        Audit(port, write, NOT_ALLOWED, {});
    }

    void Audit(TPort& port, const TRelayWrite& write, const TWriteResult& result,
               TRelayClock::duration latency) {
        port.Metrics.Write(CommandName(write.Command.Code), result.Label);
        TFields fields{{"client", write.Client}, {"command", CommandName(write.Command.Code)}};
        AddCommandFields(write, fields);
        fields.emplace_back("result", result.Label);
        fields.emplace_back("latency_ms",
                            std::chrono::duration_cast<std::chrono::milliseconds>(latency).count());
        Log(port, result.Level, "relay_write",
            std::string("Write ") + result.Words + ": " + CommandText(write.Command),
            std::move(fields));
    }

    // ---- Time --------------------------------------------------------------------------

    // Writes waiting for the device are looked at often, for their time limit; idle
    // clients and listeners that could not open once a second.
    void Sweep(TRelayClock::time_point now) {
        const bool full = now >= fNextSweep;
        if (full)
            fNextSweep = now + SWEEP_PERIOD;
        fNextWriteSweep = now + WRITE_SWEEP_PERIOD;
        fTicketsWaiting = false;
        for (auto& [device, port] : fPorts) {
            if (full)
                CloseIdle(*port, now);
            if (full && port->Connection != 0 && port->Listener == INVALID_SOCKET)
                OpenListener(*port);
            AnswerAll(*port, now);
        }
        Rearm();
    }

    // The sweep's next time.
    void Rearm() {
        fSweeper.Set(fTicketsWaiting ? std::min(fNextSweep, fNextWriteSweep) : fNextSweep);
    }

    void Log(const TPort& port, TLogLevel level, const std::string& event,
             const std::string& message, TFields fields) const {
        fLog({QDateTime::currentDateTime(), level, port.Device, event, message, std::move(fields)});
    }

    TEventLoop& fLoop;
    const TRelayOptions fOptions;
    TRelayFamilies& fFamilies;
    TRelayLog fLog;
    std::atomic<bool> fTendRequested{false};

    // The loop's thread alone.
    TEventLoop::TDeadline fSweeper;
    std::map<std::string, std::unique_ptr<TPort>> fPorts;
    // Each client's watch.
    std::unordered_map<std::uint64_t, TEventLoop::TWatchId> fWatches;
    std::uint64_t fLastId = 0;
    bool fTicketsWaiting = false;
    TRelayClock::time_point fNextSweep = TRelayClock::now() + SWEEP_PERIOD;
    TRelayClock::time_point fNextWriteSweep = TRelayClock::now();
};

TRelay::TRelay(TEventLoop& loop, const TRelayOptions& options, TRelayFamilies& families,
               TRelayLog log)
    : fLoop(std::make_unique<TLoop>(loop, options, families, std::move(log))) {}

TRelay::~TRelay() = default;

void TRelay::Serve(const std::string& device, const TRelayEndpoint& endpoint,
                   std::shared_ptr<TRelayFeed> feed) {
    fLoop->Order({device, endpoint, std::move(feed)});
}

void TRelay::Stop(const std::string& device) {
    fLoop->Order({device, std::nullopt, nullptr});
}

// ---- Attachment ----------------------------------------------------------------------

TRelayAttachment::TRelayAttachment(TRelay& relay, std::string device, TSwObject& link)
    : fRelay(relay), fDevice(std::move(device)), fFeed(std::make_shared<TRelayFeed>(link)) {
    link.SetTap(fFeed);
}

TRelayAttachment::~TRelayAttachment() {
    if (fEndpoint)
        fRelay.Stop(fDevice);
    fFeed->Detach();
}

void TRelayAttachment::Serve(const std::optional<TRelayEndpoint>& endpoint) {
    if (endpoint == fEndpoint)
        return;
    if (endpoint)
        fRelay.Serve(fDevice, *endpoint, fFeed);
    else
        fRelay.Stop(fDevice);
    fEndpoint = endpoint;
}
