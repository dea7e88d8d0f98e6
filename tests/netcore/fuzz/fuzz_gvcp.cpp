// Fuzz target: the discovery datagram readers and builders. The input is
// read as a received datagram (header, bounded payload copies into every
// record, every text field) and, cut at NUL bytes, as the texts handed to
// the builders, whose datagrams must keep their fixed sizes and give the
// key back.
#include "gvcppacket.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void check(bool ok)
{
    if (!ok)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool init = [] {
        qInstallMessageHandler(quiet);
        return true;
    }();
    (void)init;
    const char* d = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);

    // As a received datagram.
    gvcp::Header h;
    const bool isMessage = gvcp::readHeader(d, n, &h);
    check(isMessage == (n >= gvcp::kHeaderBytes));
    gvcp_discover_ack_payload disc;
    const int copied = gvcp::copyPayload(d, n, &disc, sizeof disc);
    // Never more than the length field, the bytes received and the record.
    check(isMessage ? copied == std::min({static_cast<int>(h.length), n - gvcp::kHeaderBytes,
                                          static_cast<int>(sizeof disc)})
                    : copied == -1);
    (void)gvcp::fixedText(disc.protocol_name, sizeof disc.protocol_name);
    (void)gvcp::fixedText(disc.model_name, sizeof disc.model_name);
    (void)gvcp::fixedText(disc.version_text, sizeof disc.version_text);
    (void)gvcp::fixedText(disc.device_name, sizeof disc.device_name);
    check(gvcp::fixedText(disc.device_key, gvcp::kKeyBytes).size() <= gvcp::kKeyBytes);
    (void)gvcp::addressText(disc.ip);
    gvcp_forceip_payload fip;
    gvcp::copyPayload(d, n, &fip, sizeof fip);
    check(gvcp::fixedText(fip.device_key, gvcp::kKeyBytes).size() <= gvcp::kKeyBytes);
    gvcp_forceip_ack_payload fack;
    gvcp::copyPayload(d, n, &fack, sizeof fack);
    unsigned char dev[gvcp::kDevicePayloadBytes];
    gvcp::copyPayload(d, n, dev, sizeof dev);
    (void)gvcp::readDevicePayload(dev);

    // As builder arguments: six NUL-terminated texts.
    std::vector<std::string> texts;
    std::string cur;
    for (size_t i = 0; i < size && texts.size() < 6; ++i) {
        if (data[i] == 0) {
            texts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(data[i]));
        }
    }
    texts.push_back(cur);
    texts.resize(6);
    const std::string& key = texts[0];
    const std::string ack = gvcp::ackDiscover(key.c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(),
                                              texts[4].c_str(), texts[5].c_str());
    check(ack.size() == 224);
    gvcp::copyPayload(ack.data(), static_cast<int>(ack.size()), &disc, sizeof disc);
    check(gvcp::fixedText(disc.device_key, gvcp::kKeyBytes).toLatin1().toStdString() == key.substr(0, gvcp::kKeyBytes));
    const std::string cmd = gvcp::cmdForceIp(texts[1].c_str(), texts[2].c_str(), texts[3].c_str(), key.c_str());
    check(cmd.size() == 64);
    gvcp::copyPayload(cmd.data(), static_cast<int>(cmd.size()), &fip, sizeof fip);
    check(gvcp::fixedText(fip.device_key, gvcp::kKeyBytes).toLatin1().toStdString() == key.substr(0, gvcp::kKeyBytes));
    check(gvcp::ackForceIp(key.c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(), texts[4].c_str(),
                           texts[5].c_str()).size() == 64);
    return 0;
}
