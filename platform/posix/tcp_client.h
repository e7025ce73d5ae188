// Blocking TCP client connections over BSD sockets, with time-outs.
// Kept apart from the framework headers so it can use the system's own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tcp {

// Why Connect failed.
enum class Failure { NoName, Unreachable, Other };

// Resolves `host` (IPv4 and IPv6) and races connections to its addresses
// (connect_race.h): the first to complete wins. All within `timeoutMs` (0:
// no limit), the name look-up included. Returns the connected descriptor,
// blocking, or -1 with errno set and `*failure` telling why: the name did
// not resolve, no route led to any address, or anything else. `resolved`
// gets the addresses, numeric, in the resolver's order, and the
// index of the one connected to, `reached` (-1: none).
int Connect(const char* host, unsigned port, unsigned timeoutMs, Failure* failure,
            std::vector<std::string>* resolved, int* reached);

// Returns bytes read, 0 when the peer closed, -1 on error or when no byte
// arrives within `timeoutMs` (0: no limit).
long Receive(int fd, void* buffer, std::size_t length, unsigned timeoutMs);

// Sends all of `data` unless an error occurs; returns bytes sent or -1.
long Send(int fd, const void* data, std::size_t length);

void Close(int fd);

}  // namespace tcp
