// The release archives (cpack in each cross build): what they hold, the
// DLLs' and import libraries' tables as LLVM reads them, and a host built
// the Microsoft way (MSVC target, lld-link, the archive's .lib files) that
// decodes a corpus stream under Wine to its recorded digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "windows_test_env.h"

namespace mervox::windows_test {
namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// The values of "Key: value" lines in llvm-readobj's output, in order.
std::vector<std::string> Values(const std::string& output, const std::string& key)
{
    std::vector<std::string> values;
    for (std::string line : Lines(output)) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.rfind(key + ": ", 0) == 0)
            values.push_back(line.substr(key.size() + 2));
    }
    return values;
}

// The exported names of a module-definition file (decoration and ordinal
// left out).
std::vector<std::string> DefNames(const std::string& path)
{
    std::vector<std::string> names;
    std::ifstream in(path);
    bool exports = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == ';')
            continue;
        if (line.rfind("EXPORTS", 0) == 0) {
            exports = true;
            continue;
        }
        if (exports) {
            std::istringstream fields(line);
            std::string name;
            fields >> name;
            names.push_back(name.substr(0, name.find('@')));
        }
    }
    return names;
}

CommandResult Run(const std::string& line)
{
    const CommandResult r = RunCommand(line);
    EXPECT_EQ(r.status, 0) << line << "\n" << r.output;
    return r;
}

void CheckArchive(Width width)
{
    MERVOX_REQUIRE_TOOLS(MissingForWine(width));
    MERVOX_REQUIRE_TOOLS(std::string(MERVOX_ARCHIVE_TOOLS_MISSING));
    const bool win64 = width == Width::k64;
    const std::string build = WindowsBinary("..", width);
    const std::string name = std::string("mervox-") + MERVOX_EXPECTED_VERSION + (win64 ? "-win64" : "-win32");
    const std::string out = WorkFile(name);
    Run("rm -rf " + Quote(out) + " && mkdir -p " + Quote(out));

    // The archive, and exactly these files in it.
    Run("cd " + Quote(build) + " && " + Quote(MERVOX_CPACK) + " -G ZIP -B " + Quote(out));
    const std::string zip = out + "/" + name + ".zip";
    std::vector<std::string> listing = Lines(Run(Quote(MERVOX_UNZIP) + " -Z1 " + Quote(zip)).output);
    std::sort(listing.begin(), listing.end());
    std::vector<std::string> expected = {"LICENSE",
                                         "README.txt",
                                         "bin/",
                                         "bin/mervox-api.dll",
                                         "bin/mervox.dll",
                                         "include/",
                                         "include/mervox.h",
                                         "include/mervox.hpp",
                                         "lib/",
                                         "lib/libmervox-api.dll.a",
                                         "lib/libmervox.dll.a",
                                         "lib/mervox-api.def",
                                         "lib/mervox-api.lib",
                                         "lib/mervox.def",
                                         "lib/mervox.lib"};
    // The command is in the archive where the build has it.
    if (std::ifstream(build + "/tools/mervox/mervox.exe").good())
        expected.push_back("bin/mervox.exe");
    for (std::string& e : expected)
        e = name + "/" + e;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listing, expected);
    Run("cd " + Quote(out) + " && " + Quote(MERVOX_UNZIP) + " -q " + Quote(zip));
    const std::string root = out + "/" + name;

    // mervox.dll: the legacy functions by ordinals 2 and 3.
    const std::string readobj = Quote(MERVOX_LLVM_READOBJ);
    const std::string exports = Run(readobj + " --coff-exports " + Quote(root + "/bin/mervox.dll")).output;
    EXPECT_EQ(Values(exports, "Ordinal"), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(Values(exports, "Name"), (std::vector<std::string>{"DecSoundFrame", "INITdec"}));
    // mervox-api.dll: what its .def lists, by name.
    const std::vector<std::string> apiNames = DefNames(root + "/lib/mervox-api.def");
    EXPECT_GE(apiNames.size(), 10u);
    std::vector<std::string> apiExports =
        Values(Run(readobj + " --coff-exports " + Quote(root + "/bin/mervox-api.dll")).output, "Name");
    std::vector<std::string> sortedNames = apiNames;
    std::sort(sortedNames.begin(), sortedNames.end());
    std::sort(apiExports.begin(), apiExports.end());
    EXPECT_EQ(apiExports, sortedNames);
    // Both import only Windows' own DLLs (the compiler's runtime is linked in).
    for (const char* dll : {"mervox.dll", "mervox-api.dll"}) {
        const std::string imports = Run(readobj + " --coff-imports " + Quote(root + "/bin/" + dll)).output;
        for (std::string imported : Values(imports, "Name")) {
            std::transform(imported.begin(), imported.end(), imported.begin(), ::tolower);
            EXPECT_TRUE(imported == "kernel32.dll" || imported == "msvcrt.dll" || imported == "user32.dll" ||
                        imported.rfind("api-ms-win-", 0) == 0)
                << dll << " imports " << imported;
        }
    }

    // The MSVC import libraries: the symbols a Microsoft compiler's objects
    // refer to. On 32-bit Windows the legacy functions are stdcall
    // (_DecSoundFrame@8), imported by their undecorated export names, and
    // the cdecl functions carry the leading underscore.
    const std::string legacyLib = Run(readobj + " " + Quote(root + "/lib/mervox.lib")).output;
    const std::vector<std::string> legacySymbols = Values(legacyLib, "Symbol");
    const std::set<std::string> legacy(legacySymbols.begin(), legacySymbols.end());
    for (const std::string& s : win64 ? std::vector<std::string>{"DecSoundFrame", "INITdec"}
                                      : std::vector<std::string>{"_DecSoundFrame@8", "_INITdec@4"}) {
        EXPECT_EQ(legacy.count(s), 1u) << s;
        EXPECT_EQ(legacy.count("__imp_" + s), 1u) << s;
    }
    const std::vector<std::string> legacyTypes = Values(legacyLib, "Name type");
    EXPECT_EQ(legacyTypes, std::vector<std::string>(2, win64 ? "name" : "undecorate"));
    const std::string apiLib = Run(readobj + " " + Quote(root + "/lib/mervox-api.lib")).output;
    const std::vector<std::string> apiSymbols = Values(apiLib, "Symbol");
    const std::set<std::string> api(apiSymbols.begin(), apiSymbols.end());
    for (const std::string& n : apiNames) {
        const std::string s = (win64 ? "" : "_") + n;
        EXPECT_EQ(api.count(s), 1u) << s;
        EXPECT_EQ(api.count("__imp_" + s), 1u) << s;
    }

    // A host compiled for the MSVC target and linked by lld-link against the
    // two .lib files (and a kernel32.lib made here: no Windows SDK).
    const std::string target = win64 ? "x86_64-pc-windows-msvc" : "i686-pc-windows-msvc";
    {
        std::ofstream def(out + "/kernel32.def");
        def << "LIBRARY kernel32.dll\nEXPORTS\n";
        for (const char* f : {"CreateFileA@28", "ReadFile@20", "WriteFile@20", "CloseHandle@4",
                              "GetEnvironmentVariableA@12", "ExitProcess@4"})
            def << "    " << (win64 ? std::string(f).substr(0, std::string(f).find('@')) : f) << "\n";
    }
    Run(Quote(MERVOX_LLVM_DLLTOOL) + " -m " + (win64 ? "i386:x86-64" : "i386 -k") + " -d " +
        Quote(out + "/kernel32.def") + " -l " + Quote(out + "/kernel32.lib"));
    Run(Quote(MERVOX_CLANG) + " --target=" + target + " -ffreestanding -fno-builtin -O1 -Wall -Werror -I " +
        Quote(root + "/include") + " -c " + Quote(MERVOX_MSVC_HOST_SOURCE) + " -o " + Quote(out + "/host.obj"));
    const std::string host = root + "/bin/msvc_host.exe";
    const CommandResult linked =
        Run(Quote(MERVOX_LLD_LINK) + " /nologo /entry:HostMain /subsystem:console /nodefaultlib /out:" + Quote(host) +
            " " + Quote(out + "/host.obj") + " " + Quote(root + "/lib/mervox.lib") + " " +
            Quote(root + "/lib/mervox-api.lib") + " " + Quote(out + "/kernel32.lib"));
    const std::string hostImports = Run(readobj + " --coff-imports " + Quote(host)).output;
    EXPECT_NE(hostImports.find("Symbol: DecSoundFrame (2)"), std::string::npos) << hostImports;
    EXPECT_NE(hostImports.find("Symbol: mervox_frame_bytes"), std::string::npos) << hostImports;
    ASSERT_EQ(linked.status, 0);

    // It runs beside the archive's DLLs and decodes to the recorded digest.
    const std::string pcm = out + "/speech-a.63.pcm";
    const CommandResult run =
        RunUnderWine(host, {}, width,
                     {"MERVOX_HOST_STREAM=" + WinePath(mervox::test::DataPath("corpus/speech-a.63.bit")),
                      "MERVOX_HOST_OUTPUT=" + WinePath(pcm)});
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<CorpusCase> cases = CorpusCases();
    const auto c =
        std::find_if(cases.begin(), cases.end(), [](const CorpusCase& k) { return k.name == "speech-a.63"; });
    ASSERT_NE(c, cases.end());
    const std::vector<int16_t> samples = ReadPcm(pcm);
    EXPECT_EQ(samples.size(), c->frames * 240);
    EXPECT_EQ(Digest(samples), c->digest);
}

TEST(ReleaseArchive, Win32ZipHoldsTheDllsAndItsLibsLinkWithLldLink) { CheckArchive(Width::k32); }

TEST(ReleaseArchive, Win64ZipHoldsTheDllsAndItsLibsLinkWithLldLink) { CheckArchive(Width::k64); }

}  // namespace
}  // namespace mervox::windows_test
