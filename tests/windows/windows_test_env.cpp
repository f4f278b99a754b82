#include "windows_test_env.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace mervox::windows_test {

bool RunningUnderCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

std::string MissingForDll() { return MERVOX_TOOLCHAIN_MISSING; }

std::string MissingForWine()
{
    const std::string dll = MissingForDll();
    const std::string wine = MERVOX_WINE_MISSING;
    if (!dll.empty() && !wine.empty())
        return dll + "; " + wine;
    return dll + wine;
}

std::string WindowsBinary(const std::string& name) { return std::string(MERVOX_WINDOWS_BIN_DIR) + "/" + name; }

std::string WorkFile(const std::string& name)
{
    mkdir(MERVOX_WINDOWS_WORK_DIR, 0755);
    return std::string(MERVOX_WINDOWS_WORK_DIR) + "/" + name;
}

std::string WinePrefixDir() { return MERVOX_WINE_PREFIX; }

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

CommandResult RunUnderWine(const std::string& program, const std::vector<std::string>& arguments)
{
    // No display and no Mono or Gecko downloads: nothing here needs them.
    std::string line =
        "env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=" + Quote(WinePrefixDir()) + " " +
        Quote(MERVOX_WINE) + " " + Quote(program);
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

}  // namespace mervox::windows_test
