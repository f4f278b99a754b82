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

}  // namespace
}  // namespace mervox::media::base
