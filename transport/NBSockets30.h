#pragma once

// TCP client sockets with time-outs and the device frame codec.
//
// Every operation returns a boolean and leaves the reason for a failure in the calling
// thread's socket last-error value, numbered as Windows Sockets numbers its errors
// (the window shows these numbers to the operator). Nothing here throws or logs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;

// Last-error values the rest of the station relies on.
constexpr int SOCK_ERR_TIMEOUT = 258;
constexpr int SOCK_ERR_WOULD_BLOCK = 10035;
constexpr int SOCK_ERR_IN_PROGRESS = 10036;
constexpr int SOCK_ERR_NET_UNREACHABLE = 10051;
constexpr int SOCK_ERR_CONN_ABORTED = 10053;
constexpr int SOCK_ERR_CONN_RESET = 10054;
constexpr int SOCK_ERR_TIMED_OUT = 10060;
constexpr int SOCK_ERR_CONN_REFUSED = 10061;
constexpr int SOCK_ERR_HOST_UNREACHABLE = 10065;
constexpr int SOCK_ERR_BAD_FRAME = 11004;

// The unit in which frames, payloads and the settings block are passed.
constexpr std::size_t SW_BUFFER_SIZE = 32768;
using TSwBuffer = std::array<std::uint8_t, SW_BUFFER_SIZE>;

// Largest payload a frame carries: its length must fit 14 bits and a payload made
// wholly of escaped bytes must still fit one buffer.
constexpr int FRAME_MAX_PAYLOAD = 16380;
constexpr int FRAME_OVERHEAD = 8;
// Largest length a received frame can declare in its 14 bits.
constexpr int FRAME_MAX_DECLARED = 16383;

// ---- Last error and clock --------------------------------------------------------

int SocketLastError();
void SetSocketLastError(int error);

// Translates an errno value into the numbering above; unknown values pass through.
int SocketErrorFromErrno(int errnoValue);

// Milliseconds from a monotonic clock; compare two readings by unsigned difference.
std::uint32_t TickCount();

// ---- Socket layer ----------------------------------------------------------------

// The IPv4 address of a dotted-quad text in network byte order: the first number is
// the first byte in memory. Fields that do not convert count as 0; a text longer than
// ADDRESS_TEXT_LIMIT is no address and gives 0.
std::uint32_t AddressFromText(const std::string& text);

bool SocketCreate(TSocket& handle);
bool SocketSetOptions(TSocket handle, int bufferSize);
bool SocketSetBlocking(TSocket handle, bool blocking);
bool SocketOpen(TSocket& handle);

bool SocketConnect(TSocket handle, const std::string& address, int port);
bool SocketWaitConnect(TSocket handle, std::uint32_t timeoutMs);
// Whether a connect that has ended (its socket became writable) opened the connection;
// the reason in the last error when not.
bool SocketConnectResult(TSocket handle);
bool SocketConnectTimeout(TSocket handle, const std::string& address, int port,
                          std::uint32_t timeoutMs);

// A readiness set. Every wait of this layer watches exactly one socket, so a set holds
// one; after the wait Ready tells whether that socket is ready.
struct TSocketSet {
    TSocket Socket = INVALID_SOCKET;
    bool Ready = false;
};

// One readiness wait over the sets given (any may be null). readyCount is the number
// of ready sets, 0 when the time ran out and -1 when the wait failed.
bool SocketSelect(TSocketSet* readSet, TSocketSet* writeSet, TSocketSet* errorSet, int& readyCount,
                  std::uint32_t timeoutMs);
bool SocketCanWrite(TSocket handle, bool& ready);
bool SocketCanRead(TSocket handle, bool& ready);

bool SocketSend(TSocket handle, const std::uint8_t* bytes, int count, int& sent);
bool SocketRecv(TSocket handle, std::uint8_t* buffer, int size, int& received);

bool SocketClose(TSocket& handle);
bool SocketShutdown(TSocket& handle);

// ---- Frame codec -----------------------------------------------------------------

// Writes the frame for a payload into frame (at least 2 * length + 8 bytes) and returns
// its length in bytes; the payload must not exceed FRAME_MAX_PAYLOAD.
int EncodeFrame(const std::uint8_t* payload, int length, std::uint8_t* frame);

// Checks one complete frame, from its start mark through its end mark, and decodes its
// payload into payload (room for FRAME_MAX_DECLARED bytes). Returns false when the
// frame fails any check.
bool DecodeFrame(const std::uint8_t* frame, int frameLength, std::uint8_t* payload, int& length);

// The most a receive reads at once.
constexpr int RECEIVE_CHUNK = 1024;
// Room for the next read of a receive that holds count bytes of a frame so far.
int ReadRoom(int count);

// The first frame among bytes that arrive in pieces: from the first start mark to the
// first end mark after it.
class TFrameSearch {
public:
    // Looks at raw[0, count), which extends what the last call looked at.
    void Scan(const std::uint8_t* raw, int count);
    bool Found() const { return fEnd >= 0; }
    int Start() const { return fStart; }
    // One past the end mark.
    int End() const { return fEnd; }

private:
    int fStart = -1;
    int fEnd = -1;
    int fStartScan = 0;
    int fEndScan = 0;
};

// Decodes the frame a search found in raw into destination; false, with
// SOCK_ERR_BAD_FRAME, when it fails the codec's checks.
bool TakeFoundFrame(const std::uint8_t* raw, const TFrameSearch& search, TSwBuffer& destination,
                    int& length);

bool SendAll(TSocket handle, const std::uint8_t* bytes, int count, std::uint32_t timeoutMs);
bool SendFrame(TSocket handle, const std::uint8_t* payload, int length, std::uint32_t timeoutMs);
bool ReceiveFrame(TSocket handle, TSwBuffer& destination, int& length, std::uint32_t timeoutMs);
