#include "Listener.h"

#include "UnitProc.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

bool BindAndListen(TSocket handle, const TAddressValue& address, int port, int backlog) {
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    std::copy(address.begin(), address.end(), reinterpret_cast<std::uint8_t*>(&local.sin_addr));
    return setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
           bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
           listen(handle, backlog) == 0 && SocketSetBlocking(handle, false);
}

} // namespace

bool ListenOn(const std::string& address, int port, int backlog, TSocket& handle) {
    if (!SocketCreate(handle))
        return false;
    if (BindAndListen(handle, AddressValue(address), port, backlog))
        return true;
    const int reason = errno;
    SocketShutdown(handle);
    errno = reason;
    return false;
}

int BoundPort(TSocket handle) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    getsockname(handle, reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}
