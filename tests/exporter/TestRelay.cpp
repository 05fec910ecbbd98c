// The exporter's relay through its real program, against simulated devices on loopback: it
// answers like the device itself, keeps read-only clients from writing, follows the device
// up and down, and shrugs off bad clients. Many clients and writers at once are in
// TestRelayControlRoom.cpp.

#include "FrameScan.h"
#include "QtWait.h"
#include "RelayRig.h"
#include "SimClient.h"
#include "UnitThread.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::vector<std::string> READS = {"00 00 80 01 00", READ_STATE, "01 01 80 06 00",
                                        "01 03 80 06 00", "01 02 80 06 00"};
// The simulator's settings with the sync time at 2.5 s and video DIF.LEVEL off.
const std::string SETTINGS_WRITE =
    "01 01 80 05 16 01 01 19 00 00 00 00 00 04 14 00 01 15 03 00 00 05 01 00 01 78 00";

TSimBytes Frame(const TSimBytes& payload) {
    std::uint8_t frame[2 * 64 + FRAME_OVERHEAD];
    const int size = EncodeFrame(payload.data(), static_cast<int>(payload.size()), frame);
    return {frame, frame + size};
}

// What a request got: the reply's bytes, "no reply" or the socket error.
std::string Answer(TSimClient& client, const TSimBytes& reply) {
    if (!reply.empty())
        return HexText(reply);
    return client.Error == SOCK_ERR_TIMEOUT ? "no reply" : "error " + std::to_string(client.Error);
}

std::string Ask(TSimClient& client, const std::string& request, std::uint32_t timeoutMs = 1000) {
    return request + " -> " + Answer(client, client.Ask(request, timeoutMs));
}

std::string Receive(TSimClient& client, std::uint32_t timeoutMs = 1000) {
    TSimBytes reply;
    client.Receive(reply, timeoutMs);
    return Answer(client, reply);
}

// The same checks, on one connection, against whatever listens on port.
std::vector<std::string> Probe(int port) {
    TSimClient client(port);
    std::vector<std::string> answers;
    for (const std::string& read : READS)
        answers.push_back(Ask(client, read));
    for (const auto& [write, read] : {std::pair{SELECT_B, READ_STATE},
                                      {SELECT_A, READ_STATE},
                                      {AUTO, READ_STATE},
                                      {"01 03 80 05 02 01 01", READS[3]},
                                      {SETTINGS_WRITE, READS[2]}}) {
        answers.push_back(Ask(client, write));
        answers.push_back(Ask(client, read));
    }
    // A request split into single bytes, and one after junk.
    for (std::uint8_t byte : Frame(Hex(READS[4]))) {
        client.SendRaw({byte});
        std::this_thread::sleep_for(2ms);
    }
    answers.push_back("split -> " + Receive(client));
    TSimBytes junk = Hex("FF 00 13 37 06");
    const TSimBytes frame = Frame(Hex(READ_STATE));
    junk.insert(junk.end(), frame.begin(), frame.end());
    client.SendRaw(junk);
    answers.push_back("junk -> " + Receive(client));
    // A frame with a wrong checksum, a select of no input, a read one byte too long.
    TSimBytes broken = frame;
    broken[broken.size() - 4] ^= 1;
    client.SendRaw(broken);
    answers.push_back("broken -> " + Receive(client, 300));
    answers.push_back(Ask(client, "01 00 80 05 03 01 01 03", 300));
    answers.push_back(Ask(client, "01 00 80 06 00 00", 300));
    std::this_thread::sleep_for(1s);
    answers.push_back(Ask(client, READS[0]));
    return answers;
}

// A station's link on the test's thread, recording what it reports.
class TLinkClient {
public:
    explicit TLinkClient(int port) {
        Link.OnCounters.Listen([this](TSwObject*) { Ready = true; });
        Link.OnStop.Listen([this](TSwObject*, int code) { StopCode = code; });
        Link.OnLinkStat.Listen([this](TSwObject*, std::uint32_t, int kind) {
            Timeouts += kind == LINK_TIMEOUTS ? 1 : 0;
        });
        Link.Connect("127.0.0.1", port);
    }

    bool WaitReady() {
        return PumpUntil([this] { return Ready || StopCode >= 0; }, 5s) && Ready;
    }
    bool WaitStop() {
        return PumpUntil([this] { return StopCode >= 0; }, 5s);
    }

    TSwObject Link;
    bool Ready = false;
    int StopCode = -1;
    int Timeouts = 0;
};

// Sockets connecting to port all at once, left open.
std::vector<int> Connections(int port, int count) {
    std::vector<int> sockets;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        sockets.push_back(fd);
    }
    return sockets;
}

// A test that opens a thousand sockets needs the room.
void RaiseDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

TEST(Relay, AnswersLikeTheDeviceItself) {
    TSimOptions options;
    options.Port = 0;
    TSimDevice direct(options);
    ASSERT_TRUE(direct.Start());
    TRelayRig rig({"--relay.allow-write", "127.0.0.1/32"});
    ASSERT_TRUE(rig.Ready());
    const std::vector<std::string> expected = Probe(direct.Port());
    EXPECT_EQ(Probe(rig.RelayPort()), expected);
    // The device's own answers: acknowledged writes, silence for bad requests.
    EXPECT_EQ(expected[5], SELECT_B + " -> " + HexText(STATE_ACK));
    EXPECT_EQ(expected[expected.size() - 4], "broken -> no reply");
    EXPECT_EQ(expected.back().rfind(READS[0] + " -> FF FF", 0), 0u) << expected.back();
    const auto writes = rig.LogLines({"Write acknowledged: ", "command="}, 5);
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_NE(writes[4].find("changes=\"level on->off, sync-time 1.9->2.5 s\""), std::string::npos)
        << writes[4];
    EXPECT_EQ(rig.LogLines({"Request left unanswered", "reason=unknown_request"}, 2).size(), 2u);
    EXPECT_EQ(rig.LogLines({"Request left unanswered", "reason=broken_frame"}).size(), 1u);

    // A write the device refuses is not acknowledged; the device's link stops.
    ASSERT_EQ(rig.Run("fault wrong-ack"), "");
    TSimClient writer(rig.RelayPort());
    EXPECT_TRUE(writer.Ask(SELECT_B).empty());
    EXPECT_EQ(rig.LogLines({"Write refused: select B", "result=refused"}).size(), 1u);
}

TEST(Relay, AWriteNotDoneInTimeIsNotAcknowledgedAndItsResendIsTheSameWrite) {
    TRelayRig rig({"--relay.allow-write", "127.0.0.1"});
    ASSERT_TRUE(rig.Ready());
    ASSERT_EQ(rig.Run("fault no-ack"), "");
    TSimClient writer(rig.RelayPort());
    EXPECT_TRUE(writer.Ask(SELECT_B, 2700).empty());
    EXPECT_EQ(writer.Error, SOCK_ERR_TIMEOUT);
    // The exporter's link sends the write again after its own time-out; now it is answered.
    ASSERT_EQ(rig.Run("fault none"), "");
    EXPECT_EQ(writer.Ask(SELECT_B, 2000), STATE_ACK);
    PumpFor(300ms);
    const auto writes = rig.LogLines({"Write ", "command="});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(LogField(writes[0], "result"), "acknowledged");
    EXPECT_GE(std::stoi(LogField(writes[0], "latency_ms")), 2700);
}

TEST(Relay, AReadOnlyRelayClosesAWriter) {
    TRelayRig rig({"--relay.allow-write", "10.0.0.0/8"});
    ASSERT_TRUE(rig.Ready());
    TSimClient reader(rig.RelayPort());
    EXPECT_EQ(reader.Ask(READ_STATE).size(), 14u);
    TSimClient writer(rig.RelayPort());
    EXPECT_TRUE(writer.Ask(SELECT_B).empty());
    EXPECT_EQ(writer.Error, SOCK_ERR_CONN_RESET);
    const auto refused = rig.LogLines({"Write not allowed: select B", "result=not_allowed"});
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(rig.LogLines({"Relay client closed", "reason=\"write not allowed\""}).size(), 1u);
    EXPECT_EQ(rig.Device().State().Output, INPUT_A);
    EXPECT_EQ(reader.Ask(READ_STATE).size(), 14u);
}

TEST(Relay, FollowsTheDeviceDownAndUpAndTakesAtMost32Clients) {
    TRelayRig rig;
    ASSERT_TRUE(rig.Ready());
    std::vector<std::unique_ptr<TSimClient>> clients;
    for (int i = 0; i < 32; ++i)
        clients.push_back(std::make_unique<TSimClient>(rig.RelayPort()));
    ASSERT_TRUE(
        rig.Exporter().WaitSample("control7710_relay_clients", {{"device", rig.Key()}}, 32));
    TSimClient extra(rig.RelayPort());
    EXPECT_TRUE(extra.Ask(READ_STATE).empty());
    EXPECT_EQ(rig.LogLines({"Relay client refused", "reason=max_clients"}).size(), 1u);
    clients.clear();
    ASSERT_TRUE(rig.Exporter().WaitSample("control7710_relay_clients", {{"device", rig.Key()}}, 0));

    std::vector<std::unique_ptr<TLinkClient>> links;
    for (int i = 0; i < 3; ++i) {
        links.push_back(std::make_unique<TLinkClient>(rig.RelayPort()));
        ASSERT_TRUE(links.back()->WaitReady());
    }
    const std::size_t before = rig.Exporter().Lines().size();
    ASSERT_EQ(rig.Run("fault refuse"), "");
    ASSERT_EQ(rig.Run("drop"), "");
    for (const auto& link : links) {
        ASSERT_TRUE(link->WaitStop());
        EXPECT_NE(link->StopCode, STOP_BY_REQUEST);
    }
    TLinkClient late(rig.RelayPort());
    ASSERT_TRUE(late.WaitStop());
    EXPECT_EQ(late.StopCode, STOP_CONNECT_FAILED);
    ASSERT_EQ(rig.Run("fault refuse off"), "");
    ASSERT_NE(rig.Exporter().WaitLog("Relay listening", before, 10s), 0u);
    TLinkClient again(rig.RelayPort());
    EXPECT_TRUE(again.WaitReady());
}

TEST(Relay, BadClientsStallNeitherOthersNorThePoll) {
    RaiseDescriptorLimit();
    TRelayRig rig;
    ASSERT_TRUE(rig.Ready());
    TLinkClient watcher(rig.RelayPort());
    ASSERT_TRUE(watcher.WaitReady());
    {
        TSimClient client(rig.RelayPort());
        client.Send(TSimBytes(100, 0x41));
        EXPECT_EQ(Receive(client, 300), "no reply");
        EXPECT_EQ(client.Ask("01 00 80 06 00 01", 300).size(), 0u);
        EXPECT_EQ(client.Ask(READ_STATE).size(), 14u);
    }
    EXPECT_EQ(rig.LogLines({"Request left unanswered", "reason=overlong_frame"}).size(), 1u);
    EXPECT_EQ(rig.LogLines({"reason=unknown_request", "payload=\"01 00 80 06 00 01\""}).size(), 1u);

    // A client that sends requests and never reads the answers.
    const std::vector<int> deaf = Connections(rig.RelayPort(), 1);
    const TSimBytes request = Frame(Hex(READ_STATE));
    TSimBytes requests;
    for (int i = 0; i < 1000; ++i)
        requests.insert(requests.end(), request.begin(), request.end());
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < until) {
        send(deaf[0], requests.data(), requests.size(), MSG_NOSIGNAL);
        QCoreApplication::processEvents();
    }
    const std::uint64_t polled = rig.Device().Requests();
    const std::vector<int> crowd = Connections(rig.RelayPort(), 1000);
    EXPECT_TRUE(rig.Exporter().WaitSample("control7710_relay_refused_total",
                                          {{"device", rig.Key()}, {"reason", "max_clients"}}, 970,
                                          10s));
    PumpFor(500ms);
    EXPECT_GT(rig.Device().Requests(), polled + 4);
    EXPECT_EQ(watcher.StopCode, -1);
    EXPECT_EQ(watcher.Timeouts, 0);
    for (int fd : crowd)
        close(fd);
    close(deaf[0]);
}
