// The address a user types to reach a remote instance: a host (dotted
// address or name) and an optional ":port".
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "core/RefString.h"

// Splits "host[:port]" at its first ":". Without a port, with an empty one
// or with port 0 the port is the protocol's default (6000). A port that is
// not a decimal number from 0 to 65535, or an empty host, is refused (0):
// a port is never wrapped into another one.
int ParseRemoteAddress(const wchar_t* text, CString* host, uint16_t* port);

// The IPv4 socket address of a typed address: parsed as above and the host
// resolved (ResolveHost). 0 when the text is refused or the host does not
// resolve.
int MakeRemoteSocketAddress(const wchar_t* text, sockaddr_in* address);
