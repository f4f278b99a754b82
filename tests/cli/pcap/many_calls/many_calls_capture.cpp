// Writes a classic pcap capture of CALLS simultaneous G.723.1 calls for
// timing `mervox pcap` (doc/performance.md's figure; never stored in the
// repository): call k sends corpus stream k mod 6 (its first SECONDS of
// frames), one frame per RTP packet every 30 ms, from its own SSRC and
// ports; the calls' packets are interleaved in time order.
//   mervox_many_calls_capture OUT.pcap [CALLS=1000] [SECONDS=30]
// (the corpus streams come from the source tree's tests/data/corpus)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_builder.h"

namespace {

using mervox::media::capture::test::Bytes;
namespace builder = mervox::media::capture::test;

void PutLe32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.pcap [CALLS] [SECONDS]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const unsigned calls = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1000;
    const unsigned seconds = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 30;
    const size_t frames = seconds * 100 / 3;  // 30 ms each
    std::vector<std::vector<Bytes>> streams;
    for (const char* name :
         {"speech-a.63", "speech-a.53", "speech-a.mixed", "speech-a.63-vad", "speech-a.53-vad", "speech-a.63-enc2"}) {
        streams.push_back(builder::StreamFrames(std::string(name) + ".bit"));
        if (streams.back().size() < frames) {
            std::fprintf(stderr, "%s has fewer than %zu frames\n", name, frames);
            return 1;
        }
    }
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return 1;
    }
    Bytes header;
    for (const uint32_t v : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, 1u})  // version 2.4, Ethernet
        PutLe32(header, v);
    std::fwrite(header.data(), 1, header.size(), out);
    const uint32_t start = 1700000000;
    for (size_t f = 0; f < frames; ++f) {
        const uint64_t micros = f * 30000;
        for (unsigned k = 0; k < calls; ++k) {
            builder::Rtp rtp;
            rtp.sequence = static_cast<uint16_t>(f + k);
            rtp.timestamp = static_cast<uint32_t>(f * 240 + k * 1000);
            rtp.ssrc = 0x10000000u + k;
            const Bytes packet = builder::Ethernet(builder::Ipv4Udp(
                "10.0." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1), static_cast<uint16_t>(20000 + k),
                "10.1.0.1", static_cast<uint16_t>(40000 + k), builder::RtpBytes(rtp, streams[k % streams.size()][f])));
            Bytes record;
            PutLe32(record, start + static_cast<uint32_t>(micros / 1000000));
            PutLe32(record, static_cast<uint32_t>(micros % 1000000 + k % 1000));
            PutLe32(record, static_cast<uint32_t>(packet.size()));
            PutLe32(record, static_cast<uint32_t>(packet.size()));
            record.insert(record.end(), packet.begin(), packet.end());
            if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) {
                std::perror(path);
                return 1;
            }
        }
    }
    if (std::fclose(out) != 0) {
        std::perror(path);
        return 1;
    }
    std::printf("%s: %u calls of %zu frames (%u s), %zu packets\n", path, calls, frames, seconds, frames * calls);
    return 0;
}
