#include "NBSockets30.h"

#include "IntegerText.h"
#include "UnitProc.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little,
              "AddressFromText builds network byte order by little-endian arithmetic");

namespace {

thread_local int lastError = 0;

constexpr std::uint32_t PROBE_WAIT_MS = 1;

bool FailWithErrno() {
    SetSocketLastError(SocketErrorFromErrno(errno));
    return false;
}

bool SetIntOption(TSocket handle, int level, int option, int value) {
    return setsockopt(handle, level, option, &value, sizeof value) == 0;
}

// Keep-alive with the shortest timing Linux offers: it counts in whole seconds.
bool SetKeepAlive(TSocket handle) {
    return SetIntOption(handle, SOL_SOCKET, SO_KEEPALIVE, 1) &&
           SetIntOption(handle, IPPROTO_TCP, TCP_KEEPIDLE, 1) &&
           SetIntOption(handle, IPPROTO_TCP, TCP_KEEPINTVL, 1);
}

bool SetNoLinger(TSocket handle) {
    const linger value{0, 0};
    return setsockopt(handle, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0;
}

// Adds one set's socket to the poll list; returns its index or -1 when absent.
int AddPollEntry(const TSocketSet* set, short events, pollfd* entries, int& count) {
    if (set == nullptr || set->Socket == INVALID_SOCKET)
        return -1;
    entries[count] = pollfd{set->Socket, events, 0};
    return count++;
}

// Marks a set ready when its entry reported one of the wanted conditions.
int TakeReadiness(TSocketSet* set, int index, const pollfd* entries, short wanted) {
    if (set == nullptr)
        return 0;
    set->Ready = index >= 0 && (entries[index].revents & wanted) != 0;
    return set->Ready ? 1 : 0;
}

bool AnyInvalid(const pollfd* entries, int count) {
    return std::any_of(entries, entries + count,
                       [](const pollfd& entry) { return (entry.revents & POLLNVAL) != 0; });
}

// poll() that resumes after a signal with the time still left.
int PollFor(pollfd* entries, int count, std::uint32_t timeoutMs) {
    const std::uint32_t start = TickCount();
    for (;;) {
        const std::uint32_t elapsed = TickCount() - start;
        const std::uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        const int result = poll(
            entries, count,
            static_cast<int>(std::min<std::uint32_t>(left, static_cast<std::uint32_t>(INT32_MAX))));
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

bool WaitOne(TSocket handle, bool forWrite, bool& ready) {
    TSocketSet set{handle, false};
    int readyCount = 0;
    const bool ok = forWrite ? SocketSelect(nullptr, &set, nullptr, readyCount, PROBE_WAIT_MS)
                             : SocketSelect(&set, nullptr, nullptr, readyCount, PROBE_WAIT_MS);
    ready = ok && set.Ready;
    return ok;
}

bool TimedOut(std::uint32_t start, std::uint32_t timeoutMs) {
    return timeoutMs != 0 && TickCount() - start > timeoutMs;
}

// Finds the first pair of equal mark bytes at or after from; -1 when there is none.
int FindMark(const std::uint8_t* bytes, int from, int count, std::uint8_t mark) {
    for (int p = from; p + 1 < count; ++p) {
        if (bytes[p] == mark && bytes[p + 1] == mark)
            return p;
    }
    return -1;
}

std::uint8_t LowSeven(int value) {
    return static_cast<std::uint8_t>(0x80 | (value & 0x7F));
}
std::uint8_t HighSeven(int value) {
    return static_cast<std::uint8_t>(0x80 | (value >> 7));
}

int Checksum(int sum) {
    return (16384 - sum % 16384) % 16384;
}

bool NeedsEscape(std::uint8_t byte) {
    return byte >= 0x04 && byte <= 0x0B;
}

// Undoes the escaping of bytes [from, to] of a frame. Fails on a broken escape pair or
// when more than limit bytes would come out.
bool Unescape(const std::uint8_t* frame, int from, int to, int limit, std::uint8_t* payload,
              int& length) {
    length = 0;
    for (int i = from; i <= to; ++i) {
        if (length >= limit)
            return false;
        std::uint8_t byte = frame[i];
        if (byte == 0x04) {
            if (i == to || frame[i + 1] < 0x0C || frame[i + 1] > 0x13)
                return false;
            byte = static_cast<std::uint8_t>(frame[++i] - 0x08);
        }
        payload[length++] = byte;
    }
    return true;
}

} // namespace

// ---- Last error and clock --------------------------------------------------------

int SocketLastError() {
    return lastError;
}

void SetSocketLastError(int error) {
    lastError = error;
}

int SocketErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case EAGAIN:
        return SOCK_ERR_WOULD_BLOCK;
    case EINPROGRESS:
        return SOCK_ERR_IN_PROGRESS;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EMSGSIZE:
        return 10040;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return SOCK_ERR_NET_UNREACHABLE;
    case ECONNABORTED:
        return SOCK_ERR_CONN_ABORTED;
    case ECONNRESET:
    case EPIPE:
        return SOCK_ERR_CONN_RESET;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return SOCK_ERR_TIMED_OUT;
    case ECONNREFUSED:
        return SOCK_ERR_CONN_REFUSED;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return SOCK_ERR_HOST_UNREACHABLE;
    default:
        return errnoValue;
    }
}

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
}

// ---- Socket layer ----------------------------------------------------------------

std::uint32_t AddressFromText(const std::string& text) {
    const std::string_view whole(text);
    std::uint32_t result = 0;
    if (whole.size() > ADDRESS_TEXT_LIMIT)
        return result;
    std::size_t position = 0;
    for (int field = 0; field < 4 && position <= whole.size(); ++field) {
        const std::size_t dot = std::min(whole.find('.', position), whole.size());
        std::int32_t number = 0;
        if (!TextToInteger(whole.substr(position, dot - position), number))
            number = 0;
        result |= static_cast<std::uint32_t>(number) << (8 * field);
        position = dot + 1;
    }
    return result;
}

bool SocketCreate(TSocket& handle) {
    handle = socket(AF_INET, SOCK_STREAM, 0);
    return handle != INVALID_SOCKET || FailWithErrno();
}

bool SocketSetOptions(TSocket handle, int bufferSize) {
    // SO_DONTROUTE is left out: Linux honours it for TCP by refusing every destination
    // that needs a gateway, and a device behind a router must stay reachable.
    const bool ok = SetIntOption(handle, SOL_SOCKET, SO_OOBINLINE, 1) &&
                    SetIntOption(handle, SOL_SOCKET, SO_RCVBUF, bufferSize) &&
                    SetIntOption(handle, SOL_SOCKET, SO_SNDBUF, bufferSize) &&
                    SetIntOption(handle, SOL_SOCKET, SO_REUSEADDR, 1) && SetKeepAlive(handle) &&
                    SetIntOption(handle, IPPROTO_TCP, TCP_NODELAY, 1) && SetNoLinger(handle);
    return ok || FailWithErrno();
}

bool SocketSetBlocking(TSocket handle, bool blocking) {
    int nonBlocking = blocking ? 0 : 1;
    return ioctl(handle, FIONBIO, &nonBlocking) == 0 || FailWithErrno();
}

bool SocketOpen(TSocket& handle) {
    return SocketCreate(handle) && SocketSetOptions(handle, 1024) &&
           SocketSetBlocking(handle, false);
}

bool SocketConnect(TSocket handle, const std::string& address, int port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = AddressFromText(address);
    return connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 ||
           FailWithErrno();
}

bool SocketWaitConnect(TSocket handle, std::uint32_t timeoutMs) {
    TSocketSet writeSet{handle, false};
    int readyCount = 0;
    if (!SocketSelect(nullptr, &writeSet, nullptr, readyCount, timeoutMs))
        return false;
    if (readyCount == 0) {
        SetSocketLastError(SOCK_ERR_TIMEOUT);
        return false;
    }
    return SocketConnectResult(handle);
}

bool SocketConnectResult(TSocket handle) {
    // Writable also means that the attempt has ended in failure; only a clear pending
    // error proves an established connection.
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &pending, &size) != 0)
        return FailWithErrno();
    if (pending != 0) {
        SetSocketLastError(SocketErrorFromErrno(pending));
        return false;
    }
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    return getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 ||
           FailWithErrno();
}

bool SocketConnectTimeout(TSocket handle, const std::string& address, int port,
                          std::uint32_t timeoutMs) {
    if (SocketConnect(handle, address, port))
        return true;
    const int error = SocketLastError();
    if (error == SOCK_ERR_WOULD_BLOCK || error == SOCK_ERR_IN_PROGRESS)
        return SocketWaitConnect(handle, timeoutMs);
    return false;
}

bool SocketSelect(TSocketSet* readSet, TSocketSet* writeSet, TSocketSet* errorSet, int& readyCount,
                  std::uint32_t timeoutMs) {
    // poll() underneath: unlike select() it has no upper bound on socket numbers.
    pollfd entries[3];
    int count = 0;
    const int readIndex = AddPollEntry(readSet, POLLIN, entries, count);
    const int writeIndex = AddPollEntry(writeSet, POLLOUT, entries, count);
    const int errorIndex = AddPollEntry(errorSet, POLLPRI, entries, count);
    readyCount = PollFor(entries, count, timeoutMs);
    if (readyCount < 0)
        return FailWithErrno();
    if (AnyInvalid(entries, count)) {
        readyCount = -1;
        SetSocketLastError(SocketErrorFromErrno(EBADF));
        return false;
    }
    // Like select(), a socket whose connection failed or was closed counts as readable
    // and writable, so the next call on it reports the reason.
    const short broken = POLLERR | POLLHUP;
    readyCount = TakeReadiness(readSet, readIndex, entries, POLLIN | broken) +
                 TakeReadiness(writeSet, writeIndex, entries, POLLOUT | broken) +
                 TakeReadiness(errorSet, errorIndex, entries, POLLPRI);
    return true;
}

bool SocketCanWrite(TSocket handle, bool& ready) {
    return WaitOne(handle, true, ready);
}

bool SocketCanRead(TSocket handle, bool& ready) {
    return WaitOne(handle, false, ready);
}

bool SocketSend(TSocket handle, const std::uint8_t* bytes, int count, int& sent) {
    // MSG_NOSIGNAL: a peer that has gone away must fail the send, not kill the process.
    sent = static_cast<int>(send(handle, bytes, static_cast<std::size_t>(count), MSG_NOSIGNAL));
    return sent != -1 || FailWithErrno();
}

bool SocketRecv(TSocket handle, std::uint8_t* buffer, int size, int& received) {
    received = static_cast<int>(recv(handle, buffer, static_cast<std::size_t>(size), 0));
    if (received == 0) {
        SetSocketLastError(SOCK_ERR_CONN_RESET);
        return false;
    }
    return received != -1 || FailWithErrno();
}

bool SocketClose(TSocket& handle) {
    const int result = close(handle);
    handle = INVALID_SOCKET;
    return result == 0 || FailWithErrno();
}

bool SocketShutdown(TSocket& handle) {
    if (handle == INVALID_SOCKET)
        return true;
    shutdown(handle, SHUT_RDWR);
    return SocketClose(handle);
}

// ---- Frame codec -----------------------------------------------------------------

int EncodeFrame(const std::uint8_t* payload, int length, std::uint8_t* frame) {
    int size = 0;
    frame[size++] = 0x05;
    frame[size++] = 0x05;
    frame[size++] = LowSeven(length);
    frame[size++] = HighSeven(length);
    int sum = frame[2] + frame[3];
    for (int i = 0; i < length; ++i) {
        const std::uint8_t byte = payload[i];
        if (NeedsEscape(byte)) {
            frame[size++] = 0x04;
            sum += 0x04;
        }
        const auto sent = static_cast<std::uint8_t>(NeedsEscape(byte) ? byte + 0x08 : byte);
        frame[size++] = sent;
        sum += sent;
    }
    const int checksum = Checksum(sum);
    frame[size++] = LowSeven(checksum);
    frame[size++] = HighSeven(checksum);
    frame[size++] = 0x06;
    frame[size++] = 0x06;
    return size;
}

bool DecodeFrame(const std::uint8_t* frame, int frameLength, std::uint8_t* payload, int& length) {
    if (frameLength < FRAME_OVERHEAD || FindMark(frame, 0, 2, 0x05) != 0 ||
        FindMark(frame, frameLength - 2, frameLength, 0x06) != frameLength - 2)
        return false;
    const int declared = (frame[3] & 0x7F) * 128 + (frame[2] & 0x7F);
    const int last = frameLength - 5;
    int decoded = 0;
    if (!Unescape(frame, 4, last, declared, payload, decoded) || decoded != declared)
        return false;
    int sum = 0;
    for (int i = 2; i <= last; ++i)
        sum += frame[i];
    const int checksum = Checksum(sum);
    if (frame[last + 1] != LowSeven(checksum) || frame[last + 2] != HighSeven(checksum))
        return false;
    length = decoded;
    return true;
}

int ReadRoom(int count) {
    return std::min(RECEIVE_CHUNK, static_cast<int>(SW_BUFFER_SIZE) - count);
}

bool SendAll(TSocket handle, const std::uint8_t* bytes, int count, std::uint32_t timeoutMs) {
    const std::uint32_t start = TickCount();
    int done = 0;
    while (done < count) {
        if (TimedOut(start, timeoutMs)) {
            SetSocketLastError(SOCK_ERR_TIMEOUT);
            return false;
        }
        bool writable = false;
        if (!SocketCanWrite(handle, writable))
            return false;
        int sent = 0;
        if (writable && !SocketSend(handle, bytes + done, count - done, sent))
            return false;
        done += sent;
    }
    return true;
}

bool SendFrame(TSocket handle, const std::uint8_t* payload, int length, std::uint32_t timeoutMs) {
    if (length < 0 || length > FRAME_MAX_PAYLOAD) {
        SetSocketLastError(SOCK_ERR_BAD_FRAME);
        return false;
    }
    std::uint8_t frame[SW_BUFFER_SIZE];
    const int size = EncodeFrame(payload, length, frame);
    return SendAll(handle, frame, size, timeoutMs);
}

void TFrameSearch::Scan(const std::uint8_t* raw, int count) {
    // Both searches resume one byte before where the last pass ran out, since a mark may
    // straddle two reads.
    if (fStart < 0) {
        fStart = FindMark(raw, fStartScan, count, 0x05);
        fStartScan = std::max(0, count - 1);
        fEndScan = fStart + 2;
    }
    if (fStart >= 0) {
        const int q = FindMark(raw, fEndScan, count, 0x06);
        fEnd = q < 0 ? -1 : q + 2;
        fEndScan = std::max(fEndScan, count - 1);
    }
}

bool TakeFoundFrame(const std::uint8_t* raw, const TFrameSearch& search, TSwBuffer& destination,
                    int& length) {
    std::uint8_t payload[FRAME_MAX_DECLARED];
    int decoded = 0;
    if (!DecodeFrame(raw + search.Start(), search.End() - search.Start(), payload, decoded)) {
        SetSocketLastError(SOCK_ERR_BAD_FRAME);
        return false;
    }
    std::copy_n(payload, decoded, destination.begin());
    length = decoded;
    return true;
}

bool ReceiveFrame(TSocket handle, TSwBuffer& destination, int& length, std::uint32_t timeoutMs) {
    const std::uint32_t start = TickCount();
    std::uint8_t raw[SW_BUFFER_SIZE];
    int count = 0;
    TFrameSearch search;
    while (!search.Found()) {
        if (TimedOut(start, timeoutMs)) {
            length = count;
            SetSocketLastError(SOCK_ERR_TIMEOUT);
            return false;
        }
        bool readable = false;
        if (!SocketCanRead(handle, readable))
            return false;
        int received = 0;
        if (readable && !SocketRecv(handle, raw + count, ReadRoom(count), received))
            return false;
        count += received;
        search.Scan(raw, count);
        if (!search.Found() && count == static_cast<int>(SW_BUFFER_SIZE)) {
            SetSocketLastError(SOCK_ERR_BAD_FRAME);
            return false;
        }
    }
    return TakeFoundFrame(raw, search, destination, length);
}
