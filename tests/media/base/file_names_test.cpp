// Names made from what a capture says: nothing reaches the file system
// unescaped, on any platform, and names that collide get a suffix.
#include <gtest/gtest.h>

#include <string>

#include "base/file_names.h"

namespace mervox::media::base {
namespace {

// What every safe part is made of: no separator, no character Windows
// refuses, no control character, no leading or trailing dot or space.
void ExpectSafe(const std::string& part)
{
    SCOPED_TRACE(part);
    EXPECT_FALSE(part.empty());
    EXPECT_LE(part.size(), kNamePartBytes);
    EXPECT_EQ(part.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_+=@,~%."),
              std::string::npos);
    EXPECT_EQ(part.find(".."), std::string::npos);
    EXPECT_NE(part.front(), '.');
    EXPECT_NE(part.back(), '.');
}

TEST(FileNames, HostileTextBecomesASafePart)
{
    const std::string hostile[] = {
        "../../etc/passwd",
        "..",
        ".",
        "a\\b/c<d>e:f\"g|h?i*j",
        std::string("nul\0byte", 8),
        "tab\there\nnewline\x1b[31m\x7f",
        "trailing dots...",
        "trailing space ",
        "caf\xc3\xa9 \xe2\x80\xae",
        "100%",
        std::string(10 * 1024, 'x'),
        std::string(10 * 1024, '.'),
        std::string(10 * 1024, '/'),
        std::string(63, 'a') + "..b",
        "",
    };
    for (const std::string& text : hostile)
        ExpectSafe(SafeNamePart(text));
    EXPECT_EQ(SafeNamePart("../etc/passwd"), "%2E%2E%2Fetc%2Fpasswd");
    EXPECT_EQ(SafeNamePart("a\\b:c"), "a%5Cb%3Ac");
    EXPECT_EQ(SafeNamePart("x."), "x%2E");
    EXPECT_EQ(SafeNamePart("a b"), "a%20b");
    EXPECT_EQ(SafeNamePart("100%"), "100%25");
    EXPECT_EQ(SafeNamePart(""), "_");
    // Readable names and addresses stay as they are.
    EXPECT_EQ(SafeNamePart("alice"), "alice");
    EXPECT_EQ(SafeNamePart("+4930123456"), "+4930123456");
    EXPECT_EQ(SafeNamePart("192.0.2.1_5004"), "192.0.2.1_5004");
    // A cut never splits an escape.
    const std::string cut = SafeNamePart(std::string(62, 'a') + "/");
    EXPECT_EQ(cut, std::string(62, 'a'));
}

TEST(FileNames, WindowsDeviceNamesAreNotLeftAsThey)
{
    for (const std::string device :
         {"CON", "con", "PRN", "AUX", "NUL", "nul.txt", "COM1", "com9.wav", "LPT1", "Lpt0"}) {
        const std::string part = SafeNamePart(device);
        SCOPED_TRACE(device);
        ExpectSafe(part);
        EXPECT_NE(part, device);
        const std::string base = part.substr(0, part.find('.'));
        EXPECT_EQ(base.back(), '_');
    }
    EXPECT_EQ(SafeNamePart("CON.x"), "CON_.x");
    // Names that only begin like one are names.
    EXPECT_EQ(SafeNamePart("CONSOLE"), "CONSOLE");
    EXPECT_EQ(SafeNamePart("COM10"), "COM10");
    ExpectSafe(SafeNamePart("CON." + std::string(100, 'a')));
}

TEST(FileNames, CollisionsGetASuffixAlsoWithoutCase)
{
    UniqueNames names;
    EXPECT_EQ(names.Claim("out/a-b.wav"), "out/a-b.wav");
    EXPECT_EQ(names.Claim("out/A-B.WAV"), "out/A-B-2.WAV");
    EXPECT_EQ(names.Claim("out/a-b.wav"), "out/a-b-3.wav");
    // A name that a suffix has taken is suffixed in turn.
    EXPECT_EQ(names.Claim("out/a-b-2.wav"), "out/a-b-2-2.wav");
    EXPECT_EQ(names.Claim("out.d/noext"), "out.d/noext");
    EXPECT_EQ(names.Claim("out.d/NOEXT"), "out.d/NOEXT-2");
    // The same claims in the same order give the same names.
    UniqueNames again;
    EXPECT_EQ(again.Claim("out/a-b.wav"), "out/a-b.wav");
    EXPECT_EQ(again.Claim("out/A-B.WAV"), "out/A-B-2.WAV");
}

// Whether every multibyte character of `text` is whole.
bool WholeCharacters(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t more = c < 0x80 ? 0 : c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : SIZE_MAX;
        if (more == SIZE_MAX || i + more >= text.size())
            return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return false;
        i += more;
    }
    return true;
}

// Long names are cut to one directory entry's limit: the parties first,
// then the prefix's name (never its directory), the start time, the "-N"
// of a name taken and the extension always kept.
TEST(FileNames, LongNamesAreCutToTheLimitKeepingTimeAndSuffix)
{
    const std::string time = "-20261207T101500Z";
    const std::string parties =
        "-" + SafeNamePart(std::string(80, 'a')) + "-" + SafeNamePart(std::string(21, 'b') + "/");
    const std::string dir = "out/" + std::string(300, 'd') + "/";
    const struct {
        std::string prefix;
        std::string wantStart;  // what the name keeps of the prefix and parties
    } cases[] = {
        {dir + "short", "short" + time + parties},                              // fits: unchanged
        {dir + std::string(130, 'c'), std::string(130, 'c') + time + "-"},      // parties cut
        {dir + "caf\xc3\xa9" + std::string(240, 'e'), "caf\xc3\xa9"},           // prefix cut too
        {dir + std::string(233, 'x') + "\xe2\x82\xac", std::string(232, 'x')},  // not inside a character
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix.substr(dir.size()));
        UniqueNames names;
        const std::string first = names.Claim(c.prefix, time, parties, ".wav");
        const std::string second = names.Claim(c.prefix, time, parties, ".wav");
        for (const std::string& path : {first, second}) {
            ASSERT_EQ(path.rfind(dir, 0), 0u);
            const std::string name = path.substr(dir.size());
            EXPECT_LE(name.size(), kMaxNameBytes);
            EXPECT_EQ(name.rfind(c.wantStart, 0), 0u) << name;
            EXPECT_NE(name.find(time), std::string::npos) << name;
            EXPECT_EQ(name.find("%2"), name.find("%2F"));  // an escape whole or not at all
            EXPECT_TRUE(WholeCharacters(name));
        }
        EXPECT_EQ(first.substr(first.size() - 4), ".wav");
        EXPECT_EQ(second.substr(second.size() - 6), "-2.wav");
        EXPECT_NE(first, second);
    }
}

}  // namespace
}  // namespace mervox::media::base
