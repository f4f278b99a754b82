// For the tests that run dumpcap on the loopback interface: whether it can
// capture here (a skip with the reason, a failure under CI=true), shell
// commands, and UDP traffic to capture.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace mervox::media::records::test {

// Standard output and error of a shell command; its exit status in *status.
inline std::string RunShell(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        *status = -1;
        return out;
    }
    char buffer[4096];
    for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int s = pclose(pipe);
    *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

// Empty when dumpcap (and tshark) can capture on the loopback interface
// here, else why not.
inline std::string LoopbackCaptureMissing(const std::string& dir)
{
    int status = 0;
    RunShell("command -v dumpcap && command -v tshark", &status);
    if (status != 0)
        return "dumpcap or tshark is missing (Debian package tshark)";
    const std::string out = RunShell("dumpcap -q -i lo -a duration:1 -w '" + dir + "/probe.pcapng'", &status);
    if (status != 0)
        return "dumpcap cannot capture on the loopback interface here: " + out;
    return "";
}

// In a test's SetUp: skipped (failed under CI=true) when LoopbackCaptureMissing.
#define MERVOX_NEED_LOOPBACK_CAPTURE(dir)                                                        \
    do {                                                                                         \
        const std::string missing = ::mervox::media::records::test::LoopbackCaptureMissing(dir); \
        if (!missing.empty()) {                                                                  \
            const char* ci = std::getenv("CI");                                                  \
            if (ci && std::string(ci) == "true")                                                 \
                FAIL() << missing;                                                               \
            GTEST_SKIP() << "skipped: " << missing;                                              \
        }                                                                                        \
    } while (0)

// UDP datagrams to a closed port on 127.0.0.1, one every millisecond,
// for as long as it lives (at most a minute: it ends by itself).
class LoopbackTraffic {
public:
    explicit LoopbackTraffic(size_t bytes = 1000)
        : thread_([this, bytes] {
              const int fd = socket(AF_INET, SOCK_DGRAM, 0);
              sockaddr_in to{};
              to.sin_family = AF_INET;
              to.sin_port = htons(9);  // discard
              to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              const std::string payload(bytes, 'x');
              const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
              while (!stop_ && std::chrono::steady_clock::now() < end) {
                  sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              close(fd);
          })
    {}
    ~LoopbackTraffic()
    {
        stop_ = true;
        thread_.join();
    }
    LoopbackTraffic(const LoopbackTraffic&) = delete;
    LoopbackTraffic& operator=(const LoopbackTraffic&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace mervox::media::records::test
