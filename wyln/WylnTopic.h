// Identifiers and topic names of the wyln transport.
#pragma once

#include <string>

namespace wyln {

// True when s can serve as an identifier: one MQTT topic level of 1..259
// bytes of valid UTF-8 without '/', '+', '#' or control characters.
bool isValidId(const char* s);
bool isValidId(const std::string& s);

// p2p/<target>/<sender>: a message from sender to target.
std::string p2pTopic(const std::string& target, const std::string& sender);
// p2p/<id>/+: the inbox a client subscribes to.
std::string inboxFilter(const std::string& id);
// presence/<id>
std::string presenceTopic(const std::string& id);

// When topic is p2p/<ownId>/<sender> with a valid sender, stores the sender
// and returns true.
bool senderFromTopic(const char* topic, const std::string& ownId, std::string& sender);

// Copies id with its terminating NUL into a WYLN_ID_BUFFER-byte buffer.
// Returns false (leaving the buffer untouched) when it does not fit.
bool copyIdToBuffer(const std::string& id, char* buffer);

// Length of the string in a WYLN_ID_BUFFER-byte buffer, or -1 when it holds
// no NUL (never reads past the buffer).
int boundedIdLength(const char* buffer);

} // namespace wyln
