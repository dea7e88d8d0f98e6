#include "gvcppacket.h"

#include "publictools.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace gvcp {

namespace {

void putBe16(unsigned char* at, quint16 v)
{
    at[0] = static_cast<unsigned char>(v >> 8);
    at[1] = static_cast<unsigned char>(v & 0xff);
}

quint16 getBe16(const unsigned char* at)
{
    return static_cast<quint16>((at[0] << 8) | at[1]);
}

void putLe(unsigned char* at, quint64 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
}

quint64 getLe(const unsigned char* at, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | at[i];
    return v;
}

// inet_addr of a dotted text; what it cannot parse becomes all ones, as the
// system call reports it.
quint32 addressField(const char* dotted)
{
    return dotted ? static_cast<quint32>(::inet_addr(dotted)) : 0xffffffffu;
}

void putMac(unsigned char* out, const char* text)
{
    if (text)
        string2ethaddr(QString::fromLatin1(text), out);
}

std::string commandHeader(quint16 cmd, int payloadBytes)
{
    std::string d(static_cast<size_t>(kHeaderBytes + payloadBytes), '\0');
    auto* p = reinterpret_cast<unsigned char*>(&d[0]);
    p[0] = kCommandKey;
    p[1] = kCommandFlags;
    putBe16(p + 2, cmd);
    putBe16(p + 4, static_cast<quint16>(payloadBytes));
    putBe16(p + 6, kRequestId);
    return d;
}

std::string ackHeader(quint16 answer, int payloadBytes)
{
    std::string d(static_cast<size_t>(kHeaderBytes + payloadBytes), '\0');
    auto* p = reinterpret_cast<unsigned char*>(&d[0]);
    putBe16(p, 0);  // status
    putBe16(p + 2, answer);
    putBe16(p + 4, static_cast<quint16>(payloadBytes));
    putBe16(p + 6, kRequestId);
    return d;
}

// The address fields every force-IP and discovery record carries.
template <class Payload>
void putAddresses(Payload& pl, const char* ip, const char* mask, const char* gateway)
{
    pl.ip = addressField(ip);
    pl.netmask = addressField(mask);
    pl.gateway = addressField(gateway);
}

// The fields an acknowledgement adds to those: the answering MAC and the
// requester's address.
template <class Payload>
void putAckAddresses(Payload& pl, const char* requester, const char* ip, const char* mask, const char* gateway,
                     const char* mac)
{
    putMac(pl.mac, mac);
    pl.requester_ip = addressField(requester);
    putAddresses(pl, ip, mask, gateway);
}

template <class Payload>
void putPayload(std::string& d, const Payload& payload)
{
    std::memcpy(&d[kHeaderBytes], &payload, sizeof payload);
}

std::string devicePacket(std::string d, quint32 kind, qint64 timeMs)
{
    auto* p = reinterpret_cast<unsigned char*>(&d[kHeaderBytes]);
    putLe(p, kind, 4);
    putLe(p + 8, static_cast<quint64>(timeMs), 8);
    return d;
}

}  // namespace

bool readHeader(const char* data, int size, Header* out)
{
    if (!data || size < kHeaderBytes)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    if (out) {
        out->first = p[0];
        out->code = getBe16(p + 2);
        out->length = getBe16(p + 4);
    }
    return true;
}

int copyPayload(const char* data, int size, void* record, int recordSize)
{
    if (record && recordSize > 0)
        std::memset(record, 0, static_cast<size_t>(recordSize));
    Header h;
    if (!readHeader(data, size, &h))
        return -1;
    const int n = std::max(0, std::min({static_cast<int>(h.length), size - kHeaderBytes, recordSize}));
    if (n > 0)
        std::memcpy(record, data + kHeaderBytes, static_cast<size_t>(n));
    return n;
}

QString fixedText(const char* field, int width)
{
    if (!field || width <= 0)
        return QString();
    const void* nul = std::memchr(field, 0, static_cast<size_t>(width));
    const int n = nul ? static_cast<int>(static_cast<const char*>(nul) - field) : width;
    return QString::fromLatin1(field, n);
}

void putFixedText(char* field, int width, const char* text)
{
    std::memset(field, 0, static_cast<size_t>(width));
    if (!text)
        return;
    std::memcpy(field, text, strnlen(text, static_cast<size_t>(width)));
}

std::string cmdDiscover()
{
    return commandHeader(kCmdDiscover, 0);
}

std::string cmdForceIp(const char* ip, const char* mask, const char* gateway, const char* key)
{
    std::string d = commandHeader(kCmdForceIp, kForceIpPayloadBytes);
    gvcp_forceip_payload pl {};
    putAddresses(pl, ip, mask, gateway);
    putFixedText(pl.device_key, kKeyBytes, key);
    putPayload(d, pl);
    return d;
}

std::string cmdDevice(quint32 kind, qint64 timeMs)
{
    return devicePacket(commandHeader(kCmdDevice, kDevicePayloadBytes), kind, timeMs);
}

std::string ackDiscover(const char* key, const char* requester, const char* ip, const char* mask, const char* gateway,
                        const char* mac)
{
    std::string d = ackHeader(kAckDiscover, kDiscoverPayloadBytes);
    gvcp_discover_ack_payload pl {};
    putAckAddresses(pl, requester, ip, mask, gateway, mac);
    putFixedText(pl.protocol_name, sizeof pl.protocol_name, kProtocolName);
    putFixedText(pl.model_name, sizeof pl.model_name, kModelName);
    putFixedText(pl.version_text, sizeof pl.version_text, kVersionText);
    putFixedText(pl.device_name, sizeof pl.device_name, kDeviceName);
    putFixedText(pl.device_key, kKeyBytes, key);
    putPayload(d, pl);
    return d;
}

std::string ackForceIp(const char* key, const char* requester, const char* ip, const char* mask,
                       const char* gateway, const char* mac)
{
    std::string d = ackHeader(kAckForceIp, kForceIpPayloadBytes);
    gvcp_forceip_ack_payload pl {};
    putAckAddresses(pl, requester, ip, mask, gateway, mac);
    putFixedText(pl.device_key, kKeyBytes, key);
    putPayload(d, pl);
    return d;
}

std::string ackDevice(quint32 kind, qint64 timeMs)
{
    return devicePacket(ackHeader(kAckDevice, kDevicePayloadBytes), kind, timeMs);
}

DevicePayload readDevicePayload(const unsigned char* record)
{
    DevicePayload out;
    if (!record)
        return out;
    out.kind = static_cast<quint32>(getLe(record, 4));
    out.timeMs = static_cast<qint64>(getLe(record + 8, 8));
    return out;
}

QString addressText(quint32 networkOrder)
{
    return QString::fromStdString(nint2string(networkOrder));
}

}  // namespace gvcp
