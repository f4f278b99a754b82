// The C++ side of the consumer: mervox.hpp over the static library.
// Prints "<frames> <FNV-1a 64 of the samples>" like consumer.c.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <mervox.hpp>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    mervox::Decoder decoder;
    mervox::FramePcm pcm;
    unsigned long long hash = 0xcbf29ce484222325ull;
    size_t frames = 0;
    for (size_t offset = 0; offset < stream.size();) {
        const size_t length = mervox_frame_bytes(stream[offset]);
        if (offset + length > stream.size())
            break;
        const int type = stream[offset] & 3;
        const bool speech = type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300;
        const int r =
            speech ? decoder.Decode(mervox::FrameView(stream.data() + offset, length), pcm) : decoder.Conceal(pcm);
        if (r < 0)
            return 4;
        for (int16_t s : pcm) {
            const unsigned u = static_cast<uint16_t>(s);
            hash = (hash ^ (u & 0xffu)) * 0x100000001b3ull;
            hash = (hash ^ (u >> 8)) * 0x100000001b3ull;
        }
        offset += length;
        ++frames;
    }
    std::printf("%zu %016llx\n", frames, hash);
    return 0;
}
