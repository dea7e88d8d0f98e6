// The datagrams of the camera discovery: GVCP-style headers (command key
// 0x42, big-endian command and length) around this system's own payloads.
// Everything here is pure: no sockets, no state, no clock (callers pass the
// time in), so that it can be fuzzed and checked byte by byte.
//
// Readers never trust the length field alone: a payload is copied bounded by
// the length field, by the bytes actually received and by the record size,
// and every text field is read bounded by its own width.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <string>

namespace gvcp {

constexpr quint8 kCommandKey = 0x42;
constexpr quint8 kCommandFlags = 0x11;
constexpr quint16 kRequestId = 1;

constexpr quint16 kCmdDiscover = 0x0002;
constexpr quint16 kAckDiscover = 0x0003;
constexpr quint16 kCmdForceIp = 0x0004;
constexpr quint16 kAckForceIp = 0x0005;
constexpr quint16 kCmdDevice = 0x0082;
constexpr quint16 kAckDevice = 0x0083;

// Kinds of the device command and its acknowledgement.
constexpr quint32 kKindSetTime = 1;
constexpr quint32 kKindRestart = 2;

constexpr int kHeaderBytes = 8;
constexpr int kDiscoverPayloadBytes = 216;
constexpr int kForceIpPayloadBytes = 56;
constexpr int kDevicePayloadBytes = 16;
constexpr int kKeyBytes = 32;

// Commands go to the devices' port, acknowledgements to the requesters'.
constexpr int kDevicePort = 3956;
constexpr int kRequesterPort = 10400;
constexpr const char* kBroadcast = "255.255.255.255";

}  // namespace gvcp

// The payload of a discovery acknowledgement, byte for byte as on the wire.
// IPv4 fields are in network byte order; texts are NUL-padded to their width
// and need not be terminated.
struct gvcp_discover_ack_payload {
    unsigned char mac[6];
    unsigned char reserved0[2];
    quint32 requester_ip;
    quint32 ip;
    quint32 netmask;
    quint32 gateway;
    char protocol_name[32];
    char model_name[32];
    char version_text[32];
    char device_name[48];
    char device_key[32];
    unsigned char reserved1[16];
};
static_assert(sizeof(gvcp_discover_ack_payload) == gvcp::kDiscoverPayloadBytes, "discovery payload layout");
static_assert(offsetof(gvcp_discover_ack_payload, device_key) == 168, "discovery payload layout");

// The payload of a force-IP command.
struct gvcp_forceip_payload {
    unsigned char reserved0[12];
    quint32 ip;
    quint32 netmask;
    quint32 gateway;
    char device_key[32];
};
static_assert(sizeof(gvcp_forceip_payload) == gvcp::kForceIpPayloadBytes, "force-IP payload layout");

// The payload of a force-IP acknowledgement.
struct gvcp_forceip_ack_payload {
    unsigned char mac[6];
    unsigned char reserved0[2];
    quint32 requester_ip;
    quint32 ip;
    quint32 netmask;
    quint32 gateway;
    char device_key[32];
};
static_assert(sizeof(gvcp_forceip_ack_payload) == gvcp::kForceIpPayloadBytes, "force-IP ack payload layout");

namespace gvcp {

// The device command's payload in host terms (little-endian on the wire).
struct DevicePayload {
    quint32 kind = 0;
    qint64 timeMs = 0;
};

// The header of a received datagram.
struct Header {
    quint8 first = 0;    // 0x42 for a command; high status byte for an acknowledgement
    quint16 code = 0;    // command or answer, big-endian at offset 2
    quint16 length = 0;  // payload length field, big-endian at offset 4
};

// False for a datagram shorter than the header.
bool readHeader(const char* data, int size, Header* out);

// Zero-fills `record` and copies the payload into it: at most the length
// field, the bytes received after the header and `recordSize`. Returns the
// number of bytes copied, or -1 for a datagram shorter than the header.
int copyPayload(const char* data, int size, void* record, int recordSize);

// A fixed-width text field up to its first NUL, never past `width`.
QString fixedText(const char* field, int width);
// Writes `text` into a zeroed field of `width` bytes, cut to `width`
// (no terminator when it fills the field).
void putFixedText(char* field, int width, const char* text);

// Builders: each returns exactly the datagram's bytes.
std::string cmdDiscover();
std::string cmdForceIp(const char* ip, const char* mask, const char* gateway, const char* key);
std::string cmdDevice(quint32 kind, qint64 timeMs);
std::string ackDiscover(const char* key, const char* requester, const char* ip, const char* mask, const char* gateway,
                        const char* mac);
std::string ackForceIp(const char* key, const char* requester, const char* ip, const char* mask,
                       const char* gateway, const char* mac);
std::string ackDevice(quint32 kind, qint64 timeMs);

// The device payload of a 16-byte record (little-endian fields).
DevicePayload readDevicePayload(const unsigned char* record);

// Dotted text of an address field (network byte order).
QString addressText(quint32 networkOrder);

// The fixed texts of every discovery acknowledgement.
constexpr const char* kProtocolName = "GEV";
constexpr const char* kModelName = "XAN-QB117-82KT";
constexpr const char* kVersionText = "V2.8.6 180210 143913";
constexpr const char* kDeviceName = "XAN MONITOR";

}  // namespace gvcp
