// A function run in a child process (fork), for tests of what signals do
// to a process: the child reports through a pipe of lines, the test reads
// them with a time limit and sees how the child ended. POSIX only.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace mervox::test {

// Child side: `line` and a newline to `fd`.
inline void Say(int fd, const std::string& line)
{
    const std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
        // The test has gone: nobody to tell.
    }
}

class ForkedChild {
public:
    // Runs `body(report)` in a child, which then ends with _exit(its value)
    // (no exit handlers of the test program, no gtest in the child).
    explicit ForkedChild(const std::function<int(int report)>& body)
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ends[0]);
            _exit(body(ends[1]));
        }
        close(ends[1]);
        report_ = ends[0];
    }
    ~ForkedChild()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (report_ >= 0)
            close(report_);
    }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    pid_t pid() const { return pid_; }
    void Signal(int signal) const { kill(pid_, signal); }

    // The child's next line without its newline; "" at the end of its
    // reports or after `seconds`.
    std::string Line(double seconds = 20)
    {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (char c = 0; std::chrono::steady_clock::now() < end;) {
            pollfd p{report_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            if (read(report_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
        return "";
    }

    // How it ended: killed after `seconds` if it has not.
    struct End {
        int status = -1;  // exit status, -1 if killed by a signal
        int signal = 0;
    };
    End Wait(double seconds = 20)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int raw = 0;
        for (pid_t got = 0; (got = waitpid(pid_, &raw, WNOHANG)) != pid_;) {
            if (got < 0) {
                pid_ = -1;
                return End{};
            }
            if (std::chrono::steady_clock::now() > end)
                kill(pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return End{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, WIFSIGNALED(raw) ? WTERMSIG(raw) : 0};
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
};

}  // namespace mervox::test
