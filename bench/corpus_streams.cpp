#include "corpus_streams.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "mervox.h"

namespace mervox::bench {
namespace {

std::vector<uint8_t> ReadFileOrExit(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "mervox_bench: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

CorpusStream LoadCorpusStream(const std::string& label, const std::string& stem, bool withLoss)
{
    const std::string base = std::string(MERVOX_BENCH_CORPUS_DIR) + "/" + stem;
    CorpusStream s{label, ReadFileOrExit(base + ".bit"), {}};
    const std::vector<uint8_t> mask = withLoss ? ReadFileOrExit(base + ".loss") : std::vector<uint8_t>{};

    size_t offset = 0;
    while (offset < s.bytes.size()) {
        const int type = s.bytes[offset] & 3;
        const size_t length = mervox_frame_bytes(s.bytes[offset]);
        if (offset + length > s.bytes.size())
            break;
        const size_t k = s.frameOffset.size();
        const bool speech = type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300;
        const bool lost = !speech || (k < mask.size() && mask[k] != 0);
        s.frameOffset.push_back(lost ? -1 : static_cast<long>(offset));
        offset += length;
    }
    return s;
}

}  // namespace mervox::bench
