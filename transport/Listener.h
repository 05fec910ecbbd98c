#pragma once

// Listening sockets, for whatever answers stations: the simulated device and the
// exporter's relays.

#include "NBSockets30.h"

#include <string>

// Opens a non-blocking socket that listens on address (a dotted quad) and port (0: one
// the system picks), with addresses reusable at once. False when that fails, the socket
// closed again and errno telling why.
bool ListenOn(const std::string& address, int port, int backlog, TSocket& handle);

// The port a socket is bound to.
int BoundPort(TSocket handle);
