// Reachability check used by Connect.
#pragma once

namespace wyln {

// Opens and closes a TCP connection to host:port. Returns true when the
// connection was established within timeoutMs.
bool probeTcp(const char* host, int port, int timeoutMs);

} // namespace wyln
