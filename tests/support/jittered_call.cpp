#include "jittered_call.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

namespace mervox::media::capture::test {
namespace {

constexpr int64_t kMicros = 1000000;
constexpr int64_t kFirstSecond = 1700000000;

struct Record {
    int64_t micros;  // from kFirstSecond
    size_t order;    // ties keep the order of sending
    Bytes packet;
};

void Send(const JitteredDirection& d, const std::string& from, uint16_t fromPort, const std::string& to,
          uint16_t toPort, double start, std::mt19937_64& random, std::vector<Record>& records,
          std::vector<SentPacket>& sent)
{
    const std::vector<Bytes> frames = StreamFrames(d.corpus);
    double sendTime = start;
    uint16_t sequence = 1;
    uint32_t timestamp = 0;
    uint64_t position = 0;
    for (size_t k = 0; k < d.packets; ++k) {
        if (k > 0) {
            sendTime += 0.03 / d.clock;
            sequence = static_cast<uint16_t>(sequence + 1);
            timestamp += 240;
            position += 240;
        }
        const bool afterPause = k > 0 && (k - 1 == d.pauseAfter || k - 1 == d.restartAfter);
        if (k > 0 && k - 1 == d.pauseAfter)
            sendTime += d.pauseSeconds;
        if (k > 0 && k - 1 == d.restartAfter) {
            sendTime += d.restartSeconds;
            sequence = static_cast<uint16_t>(sequence + 30000);
            timestamp += static_cast<uint32_t>(d.restartTicks);
            if (d.restartTicks > 0)
                position += static_cast<uint64_t>(d.restartTicks);
        }
        // Uniform in [0, 1) from the top 53 bits: the same on every platform.
        const double u = static_cast<double>(random() >> 11) * 0x1p-53;
        const double arrival = sendTime + d.minDelay + (d.maxDelay - d.minDelay) * u;
        const auto micros = static_cast<int64_t>(std::llround(arrival * kMicros));
        Rtp h;
        h.ssrc = d.ssrc;
        h.sequence = sequence;
        h.timestamp = timestamp;
        const Bytes ip = Ipv4Udp(from, fromPort, to, toPort, RtpBytes(h, frames[k % frames.size()]));
        records.push_back({micros, records.size(), Ethernet(ip)});
        sent.push_back(
            {static_cast<double>(kFirstSecond) + static_cast<double>(micros) / kMicros, position, afterPause});
    }
}

}  // namespace

JitteredCall MakeJitteredCall(const JitteredDirection& caller, const JitteredDirection& callee, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<Record> records;
    JitteredCall call;
    Send(caller, "10.0.0.1", 4000, "10.0.0.2", 5000, 0.0, random, records, call.packets[0]);
    Send(callee, "10.0.0.2", 5000, "10.0.0.1", 4000, 0.1, random, records, call.packets[1]);
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        return std::tie(a.micros, a.order) < std::tie(b.micros, b.order);
    });
    call.pcap = PcapFileHeader(1);
    for (const Record& r : records) {
        const Bytes record = PcapRecord(r.packet, static_cast<uint32_t>(kFirstSecond + r.micros / kMicros),
                                        static_cast<uint32_t>(r.micros % kMicros));
        call.pcap.insert(call.pcap.end(), record.begin(), record.end());
    }
    return call;
}

}  // namespace mervox::media::capture::test
