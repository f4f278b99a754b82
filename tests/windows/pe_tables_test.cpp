// The PE tables of mervox.dll as objdump reads them: what a Windows host can
// bind to, and what the DLL needs from the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

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

PeTables DumpPeTables(const std::string& dll)
{
    const CommandResult dump = RunCommand(Quote(MERVOX_OBJDUMP) + " -p " + Quote(WindowsBinary(dll)));
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

class DllTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        MERVOX_REQUIRE_TOOLS(MissingForDll());
        tables = DumpPeTables("mervox.dll");
        api = DumpPeTables("mervox-api.dll");
    }

    PeTables tables;  // mervox.dll
    PeTables api;     // mervox-api.dll
};

TEST_F(DllTables, AreBoth32BitX86Images)
{
    EXPECT_EQ(tables.format, "pei-i386");
    EXPECT_EQ(api.format, "pei-i386");
}

TEST_F(DllTables, ExportsTheLegacyFunctionsByNameAtOrdinalsTwoAndThree)
{
    const std::map<std::string, int> expected = {{"DecSoundFrame", 2}, {"INITdec", 3}};
    EXPECT_EQ(tables.exports, expected) << "decorated names (DecSoundFrame@8) or extra symbols exported?";
    EXPECT_EQ(tables.addressOrdinals, (std::set<int>{2, 3})) << "ordinal 1 or unnamed exports present?";
}

// The decoder-object interface by undecorated name, and nothing else: no
// legacy function, no C++ symbol.
TEST_F(DllTables, ApiDllExportsTheDecoderObjectFunctionsByName)
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

TEST_F(DllTables, ImportSystemDllsOnly)
{
    ExpectSystemImportsOnly("mervox.dll", tables);
    ExpectSystemImportsOnly("mervox-api.dll", api);
}

}  // namespace
}  // namespace mervox::windows_test
