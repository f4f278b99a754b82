// The PE tables of the 32-bit and 64-bit (PE32+) DLLs as objdump reads them:
// what a Windows host can bind to, and what the DLLs need from the system;
// their version resources, and the 64-bit code's vector moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "test_support.h"
#include "windows_test_env.h"

namespace mervox::windows_test {
namespace {

struct PeTables {
    std::string format;                  // objdump's name of the file format
    std::set<int> addressOrdinals;       // ordinals with an entry in the export address table
    std::map<std::string, int> exports;  // exported name -> ordinal
    std::set<std::string> imports;       // imported DLLs, lower case
};

PeTables ReadPeTables(const std::string& objdumpOutput)
{
    static const std::regex kFormat(R"(file format (\S+))");
    static const std::regex kBase(R"(^Ordinal Base\s+(\d+))");
    static const std::regex kAddress(R"(^\s*\[\s*\d+\]\s+\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)\s+Export RVA)");
    // Older objdump prints the unbiased ordinal, newer ones the biased one
    // after "+base" and the hint.
    static const std::regex kName(R"(^\s*\[\s*(\d+)\]\s+(?:\+base\[\s*(\d+)\]\s+[0-9a-fA-F]+\s+)?(\S+)\s*$)");
    static const std::regex kImport(R"(^\s*DLL Name:\s*(\S+))");

    PeTables tables;
    int base = 0;
    bool inNameTable = false;
    std::istringstream lines(objdumpOutput);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) {
            inNameTable = true;
            continue;
        }
        if (line.empty() || !std::isspace(static_cast<unsigned char>(line[0])))
            inNameTable = false;
        if (tables.format.empty() && std::regex_search(line, m, kFormat))
            tables.format = m[1];
        else if (std::regex_search(line, m, kBase))
            base = std::stoi(m[1]);
        else if (std::regex_search(line, m, kAddress)) {
            if (std::stoul(m[2], nullptr, 16) != 0)
                tables.addressOrdinals.insert(std::stoi(m[1]));
        } else if (inNameTable && std::regex_search(line, m, kName))
            tables.exports[m[3]] = m[2].matched ? std::stoi(m[2]) : base + std::stoi(m[1]);
        else if (std::regex_search(line, m, kImport)) {
            std::string dll = m[1];
            std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
            tables.imports.insert(dll);
        }
    }
    return tables;
}

PeTables DumpPeTables(const std::string& dll, Width width)
{
    const CommandResult dump = RunCommand(Quote(Objdump(width)) + " -p " + Quote(WindowsBinary(dll, width)));
    EXPECT_EQ(dump.status, 0) << dump.output;
    return ReadPeTables(dump.output);
}

// Statically linked libgcc and libstdc++ leave the C runtime and kernel32.
void ExpectSystemImportsOnly(const std::string& dll, const PeTables& tables)
{
    const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll"};
    ASSERT_EQ(tables.imports.count("kernel32.dll"), 1u) << "import table of " << dll << " not read";
    for (const std::string& imported : tables.imports)
        EXPECT_EQ(system.count(imported), 1u) << dll << " imports " << imported;
}

// Both widths give the same tables: on 32-bit Windows the stdcall names are
// exported undecorated (DecSoundFrame, not DecSoundFrame@8), and 64-bit
// Windows has no decoration.
class DllTables : public ::testing::TestWithParam<Width> {
protected:
    void SetUp() override
    {
        MERVOX_REQUIRE_TOOLS(MissingForDll(GetParam()));
        tables = DumpPeTables("mervox.dll", GetParam());
        api = DumpPeTables("mervox-api.dll", GetParam());
    }

    PeTables tables;  // mervox.dll
    PeTables api;     // mervox-api.dll
};

TEST_P(DllTables, AreX86ImagesOfTheirWidth)
{
    const std::string format = GetParam() == Width::k64 ? "pei-x86-64" : "pei-i386";
    EXPECT_EQ(tables.format, format);
    EXPECT_EQ(api.format, format);
}

TEST_P(DllTables, ExportsTheLegacyFunctionsByNameAtOrdinalsTwoAndThree)
{
    const std::map<std::string, int> expected = {{"DecSoundFrame", 2}, {"INITdec", 3}};
    EXPECT_EQ(tables.exports, expected) << "decorated names (DecSoundFrame@8) or extra symbols exported?";
    EXPECT_EQ(tables.addressOrdinals, (std::set<int>{2, 3})) << "ordinal 1 or unnamed exports present?";
}

// The decoder-object interface by undecorated name, and nothing else: no
// legacy function, no C++ symbol.
TEST_P(DllTables, ApiDllExportsTheDecoderObjectFunctionsByName)
{
    const std::set<std::string> expected = {"mervox_conceal",        "mervox_decode",          "mervox_decode_many",
                                            "mervox_decoder_create", "mervox_decoder_destroy", "mervox_decoder_reset",
                                            "mervox_frame_bytes",    "mervox_frame_faults",    "mervox_frame_is_speech",
                                            "mervox_strerror",       "mervox_version_string"};
    std::set<std::string> names;
    for (const auto& [name, ordinal] : api.exports)
        names.insert(name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(api.addressOrdinals.size(), expected.size()) << "unnamed exports present?";
}

TEST_P(DllTables, ImportSystemDllsOnly)
{
    ExpectSystemImportsOnly("mervox.dll", tables);
    ExpectSystemImportsOnly("mervox-api.dll", api);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The value that follows a key of the version resource's string table
// (UTF-16: the key, its terminator, padding to 4 bytes, the value).
std::string VersionString(const std::vector<uint8_t>& image, const std::string& key)
{
    std::vector<uint8_t> pattern;
    for (char c : key)
        pattern.insert(pattern.end(), {static_cast<uint8_t>(c), 0});
    pattern.insert(pattern.end(), {0, 0});
    auto at = std::search(image.begin(), image.end(), pattern.begin(), pattern.end());
    if (at == image.end())
        return "(no " + key + ")";
    size_t i = static_cast<size_t>(at - image.begin()) + pattern.size();
    while (i % 4 != 0 && i + 1 < image.size() && image[i] == 0 && image[i + 1] == 0)
        i += 2;
    std::string value;
    for (; i + 1 < image.size() && (image[i] || image[i + 1]); i += 2)
        value += image[i + 1] ? '?' : static_cast<char>(image[i]);
    return value;
}

// The fixed part (the numbers Windows compares) and the strings of the
// version resource carry the project version.
TEST_P(DllTables, CarryTheProjectVersionInTheirVersionResources)
{
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(MERVOX_EXPECTED_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    for (const std::string dll : {"mervox.dll", "mervox-api.dll"}) {
        SCOPED_TRACE(dll);
        const std::vector<uint8_t> image = mervox::test::ReadFileBytes(WindowsBinary(dll, GetParam()));
        const std::vector<uint8_t> signature = {0xbd, 0x04, 0xef, 0xfe};
        auto at = std::search(image.begin(), image.end(), signature.begin(), signature.end());
        ASSERT_NE(at, image.end()) << "no VS_FIXEDFILEINFO";
        const size_t fixed = static_cast<size_t>(at - image.begin());
        ASSERT_LE(fixed + 24, image.size());
        EXPECT_EQ(Le32(image, fixed + 8), major << 16 | minor) << "file version";
        EXPECT_EQ(Le32(image, fixed + 12), patch << 16) << "file version";
        EXPECT_EQ(Le32(image, fixed + 16), major << 16 | minor) << "product version";
        EXPECT_EQ(Le32(image, fixed + 20), patch << 16) << "product version";
        EXPECT_EQ(VersionString(image, "FileVersion"), MERVOX_EXPECTED_VERSION);
        EXPECT_EQ(VersionString(image, "ProductVersion"), MERVOX_EXPECTED_VERSION);
        EXPECT_EQ(VersionString(image, "OriginalFilename"), dll);
    }
}

#ifdef MERVOX_LINUX_COMMAND
// mervox.exe, built with the DLLs when the command is: the system's DLLs
// only (its runtime linked in; the command line, sockets' address text) and
// the version resource of a program.
TEST(CommandImageWin64, ImportsSystemDllsOnlyAndCarriesTheVersion)
{
    MERVOX_REQUIRE_TOOLS(MissingForDll(Width::k64));
    const std::string exe = "../tools/mervox/mervox.exe";
    const PeTables tables = DumpPeTables(exe, Width::k64);
    EXPECT_EQ(tables.format, "pei-x86-64");
    EXPECT_EQ(tables.imports, (std::set<std::string>{"kernel32.dll", "msvcrt.dll", "shell32.dll", "ws2_32.dll"}));
    const std::vector<uint8_t> image = mervox::test::ReadFileBytes(WindowsBinary(exe, Width::k64));
    EXPECT_EQ(VersionString(image, "FileVersion"), MERVOX_EXPECTED_VERSION);
    EXPECT_EQ(VersionString(image, "OriginalFilename"), "mervox.exe");
    EXPECT_EQ(VersionString(image, "FileDescription"), "mervox G.723.1 decoder, command");
}
#endif

INSTANTIATE_TEST_SUITE_P(Widths, DllTables, ::testing::Values(Width::k32, Width::k64),
                         [](const ::testing::TestParamInfo<Width>& param) {
                             return param.param == Width::k64 ? "Win64" : "Win32";
                         });

// 64-bit Windows keeps the stack only 16-byte aligned, and gcc may spill AVX
// registers there with aligned moves, which fault on such a stack: the build
// has the assembler write every aligned vector move as an unaligned one.
// So neither DLL holds any aligned vector move (VEX or EVEX, loads, stores or
// non-temporal). Register-to-register ones are harmless in themselves, but
// one left over shows that the guard is off, and the next spill would fault.
TEST(DllCodeWin64, HasNoAlignedVectorMoves)
{
    MERVOX_REQUIRE_TOOLS(MissingForDll(Width::k64));
    static const std::regex kAligned(R"(\bvmov(aps|apd|dqa|dqa32|dqa64|ntps|ntpd|ntdq|ntdqa)\b)");
    std::vector<std::string> images = {"mervox.dll", "mervox-api.dll"};
#ifdef MERVOX_LINUX_COMMAND
    images.push_back("../tools/mervox/mervox.exe");  // the same kernels, in the command
#endif
    for (const std::string& dll : images) {
        const CommandResult code =
            RunCommand(Quote(Objdump(Width::k64)) + " -d --no-show-raw-insn " + Quote(WindowsBinary(dll, Width::k64)));
        ASSERT_EQ(code.status, 0) << code.output.substr(0, 2000);
        // The AVX kernels are there to be checked.
        EXPECT_NE(code.output.find("%ymm"), std::string::npos) << dll << " holds no AVX code";
        EXPECT_NE(code.output.find("%zmm"), std::string::npos) << dll << " holds no AVX-512 code";
        std::istringstream lines(code.output);
        std::string line;
        int shown = 0;
        while (std::getline(lines, line))
            if (std::regex_search(line, kAligned) && shown++ < 5)
                ADD_FAILURE() << dll << ": " << line;
    }
}

}  // namespace
}  // namespace mervox::windows_test
