// Decodes stream files through the exported functions and compares each
// output with its recorded digest; run under valgrind by the
// safety_valgrind_corpus_decode test.
//
//   mervox_safety_corpus_decode NAME...   (names as in expected-digests.txt)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "test_support.h"

int main(int argc, char** argv)
{
    using namespace mervox::test;
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        const std::string name = argv[a];
        std::ifstream digests(DataPath("corpus/expected-digests.txt"));
        std::string line, expected;
        while (std::getline(digests, line)) {
            std::istringstream fields(line);
            std::string n, frames, hex;
            if (fields >> n >> frames >> hex && n == name)
                expected = hex;
        }
        const bool masked = name.size() > 5 && name.compare(name.size() - 5, 5, ".loss") == 0;
        const std::string stem = masked ? name.substr(0, name.size() - 5) : name;
        std::vector<uint8_t> mask;
        if (masked)
            mask = ReadFileBytes(DataPath("corpus/" + stem + ".loss"));
        const std::vector<int16_t> pcm = DecodeWithLegacyApi(ReadFileBytes(DataPath("corpus/" + stem + ".bit")), mask);
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(pcm)));
        const bool ok = !expected.empty() && expected == hex;
        std::printf("%s %s %s\n", name.c_str(), hex, ok ? "ok" : "MISMATCH");
        failures += !ok;
    }
    return failures ? 1 : 0;
}
