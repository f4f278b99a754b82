// For the tests that run dumpcap on the loopback interface: shell commands,
// whether dumpcap can capture here (else a skip with the reason, a failure
// under CI=true), and UDP traffic to capture.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
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

// Standard output of a shell command; its exit status in *status.
inline std::string RunShell(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n = 0; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int s = pipe ? pclose(pipe) : -1;
    *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

// In a test: skipped (failed under CI=true) unless dumpcap and tshark can
// capture on the loopback interface (a trial capture into `dir`).
#define MERVOX_NEED_LOOPBACK_CAPTURE(dir)                                                                          \
    do {                                                                                                           \
        int status_ = 0;                                                                                           \
        const std::string said_ = ::mervox::media::records::test::RunShell(                                        \
            "command -v tshark && dumpcap -q -i lo -a duration:1 -w '" + (dir) + "/probe.pcapng' 2>&1", &status_); \
        if (status_ != 0) {                                                                                        \
            const char* ci_ = std::getenv("CI");                                                                   \
            if (ci_ && std::string(ci_) == "true")                                                                 \
                FAIL() << "dumpcap cannot capture on lo (Debian package tshark): " << said_;                       \
            GTEST_SKIP() << "skipped: dumpcap cannot capture on lo (Debian package tshark): " << said_;            \
        }                                                                                                          \
    } while (0)

// A 1000-byte UDP datagram to 127.0.0.1:9 every millisecond while it
// lives, for a minute at most.
class LoopbackTraffic {
public:
    LoopbackTraffic()
        : thread_([this] {
              const int fd = socket(AF_INET, SOCK_DGRAM, 0);
              sockaddr_in to{};
              to.sin_family = AF_INET;
              to.sin_port = htons(9);
              to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              const std::string payload(1000, 'x');
              for (int k = 0; k < 60000 && !stop_; ++k) {
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

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace mervox::media::records::test
