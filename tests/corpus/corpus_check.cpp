// The corpus regression check without a test framework, for builds where
// GoogleTest is not available: cross builds for other architectures, run
// under an emulator. Decodes every corpus stream listed in
// expected-digests.txt through the exported functions as a host drives them
// and through a decoder object, and compares both with the recorded digest;
// a mismatch names the first block of 100 frames that differs
// (block-digests.txt).
// The digest is taken over the samples as little-endian bytes, so a
// big-endian machine must reproduce it exactly as a little-endian one.
//
//   mervox_corpus_check CORPUS_DIR    exit status 0 when every stream matches
#include <mervox.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

// FNV-1a 64 of samples [begin, end), each as its low byte and then its high
// byte.
uint64_t Fnv1a64(const std::vector<int16_t>& samples, size_t begin = 0, size_t end = SIZE_MAX)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (size_t i = begin; i < std::min(end, samples.size()); ++i) {
        const uint16_t u = static_cast<uint16_t>(samples[i]);
        for (const uint8_t byte : {static_cast<uint8_t>(u & 0xff), static_cast<uint8_t>(u >> 8)}) {
            hash ^= byte;
            hash *= 0x100000001b3u;
        }
    }
    return hash;
}

struct Decoded {
    std::vector<int16_t> legacy;  // DecSoundFrame/INITdec
    std::vector<int16_t> object;  // mervox_decoder
    size_t frames = 0;
    bool resultsAgree = true;  // both interfaces returned the same per frame
};

// Speech frames go to the decoder, silence-descriptor and untransmitted
// frames and frames whose mask byte is nonzero are concealed; a truncated
// last frame is left out, as a host does.
Decoded Decode(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& mask)
{
    Decoded d;
    INITdec(MERVOX_RATE_SELECT_6300);
    mervox_decoder* decoder = mervox_decoder_create(MERVOX_RATE_SELECT_6300, nullptr);
    if (!decoder) {
        d.resultsAgree = false;
        return d;
    }
    int16_t pcm[MERVOX_FRAME_SAMPLES];
    for (size_t offset = 0; offset < stream.size(); ++d.frames) {
        const uint8_t* frame = stream.data() + offset;
        const size_t length = mervox_frame_bytes(frame[0]);
        if (offset + length > stream.size())
            break;
        offset += length;
        const int type = frame[0] & 3;
        const bool speech = (type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300) &&
                            !(d.frames < mask.size() && mask[d.frames] != 0);
        const int16_t words = DecSoundFrame(speech ? frame : nullptr, pcm);
        d.legacy.insert(d.legacy.end(), pcm, pcm + MERVOX_FRAME_SAMPLES);
        const int result = speech ? mervox_decode(decoder, frame, length, pcm) : mervox_conceal(decoder, pcm);
        d.object.insert(d.object.end(), pcm, pcm + MERVOX_FRAME_SAMPLES);
        d.resultsAgree = d.resultsAgree && result == words;
    }
    mervox_decoder_destroy(decoder);
    return d;
}

// The first block of 100 frames whose digest differs from block-digests.txt,
// as "frames A to B", or "" if none does (or the file lists no blocks).
std::string FirstDifferingBlock(const std::string& dir, const std::string& name, const std::vector<int16_t>& pcm)
{
    constexpr size_t kBlockSamples = 100 * MERVOX_FRAME_SAMPLES;
    std::ifstream blocks(dir + "/block-digests.txt");
    std::string line;
    while (std::getline(blocks, line)) {
        std::istringstream fields(line);
        std::string n, hex;
        size_t k = 0;
        if (!(fields >> n >> k >> hex) || n != name)
            continue;
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016" PRIx64, Fnv1a64(pcm, k * kBlockSamples, (k + 1) * kBlockSamples));
        if (hex != digest)
            return "frames " + std::to_string(100 * k) + " to " + std::to_string(100 * k + 99);
    }
    return "";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mervox_corpus_check CORPUS_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::ifstream digests(dir + "/expected-digests.txt");
    if (!digests) {
        std::fprintf(stderr, "cannot read %s/expected-digests.txt\n", dir.c_str());
        return 1;
    }
    int checked = 0, failures = 0;
    std::string line;
    while (std::getline(digests, line)) {
        std::istringstream fields(line);
        std::string name, hex;
        size_t frames = 0;
        // Decoder streams only; the capture's digests belong to mervox pcap.
        if (line.rfind("speech-a.", 0) != 0 || !(fields >> name >> frames >> hex))
            continue;
        const bool masked = name.size() > 5 && name.compare(name.size() - 5, 5, ".loss") == 0;
        const std::string stem = masked ? name.substr(0, name.size() - 5) : name;
        std::vector<uint8_t> stream, mask;
        if (!ReadFile(dir + "/" + stem + ".bit", stream) || (masked && !ReadFile(dir + "/" + stem + ".loss", mask))) {
            std::printf("%s: cannot read its stream or mask\n", name.c_str());
            ++failures;
            continue;
        }
        const Decoded d = Decode(stream, mask);
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016" PRIx64, Fnv1a64(d.legacy));
        std::string problem;
        if (d.frames != frames)
            problem = std::to_string(d.frames) + " frames, expected " + std::to_string(frames);
        else if (hex != digest) {
            problem = std::string("digest ") + digest + ", expected " + hex;
            const std::string block = FirstDifferingBlock(dir, name, d.legacy);
            if (!block.empty())
                problem += "; first difference in " + block;
        } else if (d.object != d.legacy || !d.resultsAgree)
            problem = "the decoder object differs from the exported functions";
        std::printf("%-24s %s %s\n", name.c_str(), digest, problem.empty() ? "ok" : ("MISMATCH: " + problem).c_str());
        ++checked;
        failures += !problem.empty();
    }
    if (checked == 0) {
        std::printf("no corpus streams listed in %s/expected-digests.txt\n", dir.c_str());
        return 1;
    }
    std::printf("%d streams, %d mismatched\n", checked, failures);
    return failures ? 1 : 0;
}
