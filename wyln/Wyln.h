// wyln: transport plug-in over MQTT 5.
//
// Exports (C linkage, default visibility):
//   IWylnCreator* NewInterface();
//   void ReleaseInterface(IWylnCreator*);
//
// Addressing
//   Every connection logs in under an identifier that is one MQTT topic
//   level: 1..259 characters, none of '/', '+', '#'. A message from client S
//   to client T is published at QoS 1 on  p2p/T/S ; every client subscribes
//   to  p2p/<own id>/+ . The sender's identifier handed to OnRecv is the last
//   topic level, so a broker ACL ("pattern write p2p/+/%c") decides who may
//   send under which name. Send() goes to the service, a client like any
//   other whose identifier is the setting service_id (default "wyln").
//   After login the connection keeps a retained "online" on presence/<id>;
//   its will (and a clean logout) leaves a retained "offline" there. Both
//   carry the login's token (MQTT 5 user property "wyln-login": the login's
//   time and a random part), see "Take-over" below.
//
// Calls
//   Connect only checks that the broker is reachable (a TCP connection
//   within connect_timeout_ms) and remembers host and port; Login opens the
//   MQTT session. An empty identifier in Login's buffer asks the plug-in for
//   one: it makes one as ApplyId would and writes it back. nClientMode,
//   nLoginParam and szApplyInfo are not used.
//
// Threads
//   Inbound packets reach IWylnOwner::OnRecv on the connection's network
//   thread, one at a time. Send/SendTo may be called from any thread,
//   including from inside OnRecv. Outside OnRecv they wait up to nTimeoutMs
//   for the broker's PUBACK. Inside OnRecv (where the network thread cannot
//   wait for its own acknowledgement), or with nTimeoutMs <= 0, they return 0
//   as soon as the message is queued; QoS 1 delivery to the broker continues
//   in the background. DestroyClient must not be called from inside OnRecv.
//
// Reconnect and failover
//   A logged-in connection reconnects by itself with exponential backoff
//   (reconnect_delay_min .. reconnect_delay_max), under the same identifier,
//   and subscribes again. With further brokers configured (brokers), the
//   broker list is the one given to Connect followed by those, and every
//   attempt goes to the next broker in the list, so a connection whose broker
//   went away moves on to another one after reconnect_delay_min. While the
//   link is down, Send/SendTo return WYLN_E_NOT_CONNECTED (or
//   WYLN_E_TIMEOUT when the link went down while they waited): a message is
//   reported sent only when the broker acknowledged it.
//
// Take-over
//   Two connections logged in under one identifier throw each other out at
//   every reconnect; mosquitto 2.0 does so without a reason code. A
//   connection that, after a reconnect, finds on its presence topic the
//   token of a later login stops for good: it writes one line to stderr
//   ("wyln: another connection logged in as <id>; this one stops (1306)"),
//   and Send/SendTo return WYLN_E_SESSION_TAKEN_OVER from then on. The later
//   login, thrown out once by that reconnect, comes back and stays. With
//   presence 0 no token is published and a take-over is not detected.
//
// Dependencies
//   libmosquitto and the C++ standard library only, Qt deliberately not: the
//   plug-in is loaded into the host's process, where a Qt of its own would
//   have to match the host's Qt build for build (or ship beside it as a
//   second copy of Qt Core's DLL), and all it ever took from Qt was the
//   random identifier that ApplyId hands out, which <random> makes as well.
//
// Configuration (read when a client is created)
//   A key=value file (lines starting with '#' are comments), then the
//   environment: each key may be overridden by WYLN_<KEY IN UPPER CASE>.
//   The file is $WYLN_CONF if that is set, else "wyln.conf" in the directory
//   of the plug-in itself (read only when present).
//     service_id           identifier of the service Send() goes to ("wyln")
//     username, password   MQTT credentials (none). With a username set, the
//                          broker is expected to use it as the client id
//                          (use_username_as_clientid), so the only identifier
//                          accepted by Login is the username, and ApplyId
//                          hands it out. A password without a username
//                          logs in with the identifier as the user name,
//                          for brokers whose users are the identifiers
//                          (ejabberd).
//     cafile, capath       CA certificate file / directory. Either one turns
//                          TLS on, with peer and host name verification.
//     certfile, keyfile    client certificate and key for TLS (optional)
//     keepalive            MQTT keepalive in seconds (30, minimum 5)
//     connect_timeout_ms   limit for Connect's reachability check and for
//                          Login's connection and handshake (5000), also
//                          when the broker's host stops answering between
//                          Connect and Login
//     reconnect_delay_min  first reconnect delay in seconds (1)
//     reconnect_delay_max  largest reconnect delay in seconds (30)
//     id_prefix            prefix of identifiers made by ApplyId ("")
//     presence             1 to publish presence/<id>, 0 not to (1)
//     max_packet_size      largest MQTT packet sent when the broker announces
//                          no limit in CONNACK (0: none). Set it to the
//                          limit of a broker that drops the connection on a
//                          larger packet instead (ejabberd's max_payload_size):
//                          such a message would be sent again after every
//                          reconnect and drop the connection each time.
//     brokers              further brokers, "host:port" separated by commas
//                          or blanks ([addr]:port for IPv6), tried in turn
//                          when the current one is lost (none). Connect
//                          succeeds when any of them is reachable.
//   A malformed value makes CreateClient still succeed, but Connect and
//   Login then return WYLN_E_CONFIG.
#pragma once

// Result codes. Login's "identifier refused" is exactly 8; the others are
// transport codes that the library maps to its own.
enum WylnResult
{
    WYLN_OK = 0,
    // Login: the identifier is malformed or the broker refused it (CONNACK
    // 0x85 client id not valid, 0x86 bad user name or password, 0x87 not
    // authorized). Apply for a new one with ApplyId.
    WYLN_ID_REFUSED = 8,
    // A null buffer, a negative length, a null payload with a length, ...
    WYLN_E_INVALID_ARGUMENT = 1001,
    // No broker reachable: Connect failed, Connect was not called, or the
    // link is down (the plug-in is reconnecting).
    WYLN_E_NOT_CONNECTED = 1002,
    // No PUBACK (or no CONNACK during Login) within the time allowed.
    WYLN_E_TIMEOUT = 1003,
    // The target identifier is null, empty, longer than 259 characters or
    // contains '/', '+' or '#'.
    WYLN_E_BAD_TARGET = 1004,
    // The message exceeds the broker's maximum packet size (or MQTT's limit).
    WYLN_E_MESSAGE_TOO_LARGE = 1005,
    // Send/SendTo before a successful Login.
    WYLN_E_NOT_LOGGED_IN = 1251,
    // The broker refused the connection for a reason other than the identity
    // (e.g. server unavailable, unsupported protocol version).
    WYLN_E_BROKER_REFUSED = 1301,
    // TLS could not be set up: unreadable CA/cert/key file, failed handshake
    // or failed certificate verification.
    WYLN_E_TLS = 1302,
    // The broker refused the publication (PUBACK reason >= 0x80, typically
    // 0x87 not authorized by the ACL).
    WYLN_E_NOT_AUTHORIZED = 1303,
    // Out of memory.
    WYLN_E_NO_MEMORY = 1304,
    // Another connection logged in under the same identifier; this one was
    // disconnected by the broker (or found the later login's token on its
    // presence topic) and does not reconnect.
    WYLN_E_SESSION_TAKEN_OVER = 1306,
    // A configuration value is malformed.
    WYLN_E_CONFIG = 1307,
    // Unexpected failure inside the plug-in or libmosquitto.
    WYLN_E_INTERNAL = 1310,
};

// Longest identifier: the library's buffers hold 260 bytes with the NUL.
enum { WYLN_ID_BUFFER = 260, WYLN_ID_MAX_LEN = WYLN_ID_BUFFER - 1 };

#if defined(_WIN32)
#define WYLN_EXPORT __declspec(dllexport)
#else
#define WYLN_EXPORT __attribute__((visibility("default")))
#endif

class IWylnCreator;

extern "C" {
WYLN_EXPORT IWylnCreator* NewInterface();
WYLN_EXPORT void ReleaseInterface(IWylnCreator* pCreator);
}
