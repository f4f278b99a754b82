#include "cli_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "test_support.h"

namespace mervox::test {

std::string ScratchDir()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    const std::filesystem::path dir = std::filesystem::path(MERVOX_CLI_SCRATCH) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

namespace {
std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

CliRun RunCli(const std::string& args, const std::string& stdinPath, const std::string& shellPrefix,
              const std::string& stdoutPath, const std::string& cliPath)
{
    const std::filesystem::path logs = std::filesystem::path(MERVOX_CLI_SCRATCH) / "logs";
    std::filesystem::create_directories(logs);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string stem = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : stem)
        if (c == '/')
            c = '_';
    const std::string out = stdoutPath.empty() ? (logs / (stem + ".out")).string() : stdoutPath;
    const std::string err = (logs / (stem + ".err")).string();
    const std::string command = shellPrefix + " '" + cliPath + "' " + args +
                                (stdinPath.empty() ? " </dev/null" : " <'" + stdinPath + "'") + " >'" + out + "' 2>'" +
                                err + "'";
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.out = stdoutPath.empty() ? ReadText(out) : "";
    run.err = ReadText(err);
    return run;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

WavFile ParseWav(const std::vector<uint8_t>& b)
{
    WavFile wav;
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
        return wav;
    wav.riffSize = Le32(&b[4]);
    bool haveFormat = false, haveData = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const std::string id(b.begin() + pos, b.begin() + pos + 4);
        const uint32_t size = Le32(&b[pos + 4]);
        const size_t body = pos + 8;
        if (body + size > b.size())
            return wav;
        if (id == "fmt " && size >= 16) {
            wav.formatTag = Le16(&b[body]);
            wav.channels = Le16(&b[body + 2]);
            wav.sampleRate = Le32(&b[body + 4]);
            wav.byteRate = Le32(&b[body + 8]);
            wav.blockAlign = Le16(&b[body + 12]);
            wav.bitsPerSample = Le16(&b[body + 14]);
            haveFormat = true;
        } else if (id == "data") {
            wav.samples = SamplesFromS16le(std::vector<uint8_t>(b.begin() + body, b.begin() + body + size));
            haveData = true;
        }
        pos = body + size + (size & 1);
    }
    wav.valid = haveFormat && haveData && pos == b.size();
    return wav;
}

std::vector<int16_t> SamplesFromS16le(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return s;
}

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

std::string CliCommand() { return "'" MERVOX_CLI_PATH "'"; }

ChildRun RunShell(const std::string& command, int signal, const std::function<bool()>& ready, double timeoutSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ChildRun run;
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    int raw = 0;
    struct rusage usage = {};
    bool sent = signal == 0;
    for (;;) {
        const pid_t done = wait4(pid, &raw, sent ? 0 : WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0) {
            ADD_FAILURE() << "wait4 failed";
            return run;
        }
        if (elapsed() > timeoutSeconds || (ready && ready())) {
            kill(pid, signal);
            sent = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    run.seconds = elapsed();
    run.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + run.signal;
    run.peakRssKb = usage.ru_maxrss;
    return run;
}

}  // namespace mervox::test
