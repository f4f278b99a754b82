#include "windows_test_env.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace mervox::windows_test {

bool RunningUnderCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

std::string MissingForDll(Width width)
{
    return width == Width::k64 ? MERVOX_TOOLCHAIN64_MISSING : MERVOX_TOOLCHAIN_MISSING;
}

std::string MissingForWine(Width width)
{
    const std::string dll = MissingForDll(width);
    const std::string wine = width == Width::k64 ? MERVOX_WINE64_MISSING : MERVOX_WINE_MISSING;
    if (!dll.empty() && !wine.empty())
        return dll + "; " + wine;
    return dll + wine;
}

std::string WindowsBinary(const std::string& name, Width width)
{
    return std::string(width == Width::k64 ? MERVOX_WINDOWS64_BIN_DIR : MERVOX_WINDOWS_BIN_DIR) + "/" + name;
}

std::string Objdump(Width width) { return width == Width::k64 ? MERVOX_OBJDUMP64 : MERVOX_OBJDUMP; }

std::string WorkFile(const std::string& name)
{
    mkdir(MERVOX_WINDOWS_WORK_DIR, 0755);
    return std::string(MERVOX_WINDOWS_WORK_DIR) + "/" + name;
}

std::string WinePrefixDir(Width width) { return width == Width::k64 ? MERVOX_WINE64_PREFIX : MERVOX_WINE_PREFIX; }

std::string Quote(const std::string& argument)
{
    std::string quoted = "'";
    for (char c : argument) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult RunCommand(const std::string& commandLine)
{
    CommandResult result{-1, ""};
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string WinePath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

CommandResult RunUnderWine(const std::string& program, const std::vector<std::string>& arguments, Width width,
                           const std::vector<std::string>& environment)
{
    // No display and no Mono or Gecko downloads: nothing here needs them.
    // The 64-bit prefix is made by the 64-bit loader, for 64-bit programs.
    std::string line =
        "env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=" + Quote(WinePrefixDir(width)) +
        (width == Width::k64 ? " WINEARCH=win64" : "");
    for (const std::string& variable : environment)
        line += " " + Quote(variable);
    line += " " + Quote(width == Width::k64 ? MERVOX_WINE64 : MERVOX_WINE) + " " + Quote(program);
    for (const std::string& a : arguments)
        line += " " + Quote(a);
    return RunCommand(line);
}

std::vector<int16_t> ReadPcm(const std::string& path)
{
    const std::vector<uint8_t> bytes = mervox::test::ReadFileBytes(path);
    EXPECT_EQ(bytes.size() % 2, 0u) << path;
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.name; }

std::vector<CorpusCase> CorpusCases()
{
    std::ifstream in(mervox::test::DataPath("corpus/expected-digests.txt"));
    std::vector<CorpusCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        CorpusCase c;
        if (line.rfind("speech-a.", 0) == 0 && fields >> c.name >> c.frames >> c.digest)
            cases.push_back(c);
    }
    return cases;
}

std::string CorpusTestName(const std::string& name)
{
    std::string n = name;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return n;
}

std::string Digest(const std::vector<int16_t>& samples)
{
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(mervox::test::Fnv1a64(samples)));
    return digest;
}

}  // namespace mervox::windows_test
