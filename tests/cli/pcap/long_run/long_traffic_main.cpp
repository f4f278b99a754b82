// Writes days of VoIP traffic (tests/support/long_traffic.h) as a classic
// pcap capture, as it is made: for feeding a recorder through a pipe, as
// `tcpdump -w -` would.
//   mervox_long_traffic [OPTIONS] [OUT.pcap]   (standard output without OUT or with -)
// Each call is listed when it closes (tab-separated, a header first) on
// standard error or in --calls-out; --progress FILE holds one line, rewritten
// at every capture second once the packets before it are written:
// "CAPTURE_SECONDS PACKETS BYTES CALLS_CLOSED CALLS_OPEN".
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "long_traffic.h"

namespace {

namespace lt = mervox::media::capture::test;

const char kUsage[] =
    "usage: mervox_long_traffic [OPTIONS] [[-o] OUT.pcap]\n"
    "  --hours H            capture length (168: a week)\n"
    "  --calls N            calls in all, their starts spread over the capture (100000)\n"
    "  --call-seconds A-B   each call's length, drawn uniformly (60-600)\n"
    "  --max-open N         calls open at once at most (300)\n"
    "  --seed N             (1)\n"
    "  --unsignalled SHARE  calls of RTP only, without SIP (0.1)\n"
    "  --bye-lost SHARE     SIP calls whose BYE never comes (0.1)\n"
    "  --speech-share SHARE of each stream's time sent as speech, the rest as silence (1;\n"
    "                       below 0.1 the silences outgrow what a recorder conceals)\n"
    "  --junk-rate N        packets per second of DNS, TCP and other UDP (5)\n"
    "  --corpus DIR         the corpus streams (the source tree's tests/data/corpus)\n"
    "  --calls-out FILE     the list of calls (standard error)\n"
    "  --progress FILE      where the capture has got to\n";

struct Output {
    int fd = 1;
    std::string name = "standard output";
    lt::Bytes buffer;

    void Flush()
    {
        size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = write(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error(name + ": " + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
        buffer.clear();
    }
    void Put(const lt::Bytes& b) { buffer.insert(buffer.end(), b.begin(), b.end()); }
};

void PutLe32(lt::Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

double Number(const char* option, const char* text)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || v < 0)
        throw std::invalid_argument(std::string(option) + ": not a number >= 0: " + text);
    return v;
}

int Run(int argc, char** argv)
{
    lt::LongTrafficOptions o;
    std::string corpus = MERVOX_TEST_DATA_DIR "/corpus", callsOut, progress, out = "-";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a.size() > 1 && a[0] == '-' && a != "-") {
            if (i + 1 >= argc)
                throw std::invalid_argument(a + " needs a value\n" + kUsage);
            const char* v = argv[++i];
            if (a == "--hours")
                o.hours = Number(argv[i - 1], v);
            else if (a == "--calls")
                o.calls = static_cast<uint64_t>(Number(argv[i - 1], v));
            else if (a == "--call-seconds") {
                const char* dash = std::strchr(v, '-');
                if (!dash)
                    throw std::invalid_argument("--call-seconds: MIN-MAX, as 60-600");
                o.minCallSeconds = Number(argv[i - 1], std::string(v, dash).c_str());
                o.maxCallSeconds = Number(argv[i - 1], dash + 1);
            } else if (a == "--max-open")
                o.maxOpenCalls = static_cast<size_t>(Number(argv[i - 1], v));
            else if (a == "--seed")
                o.seed = std::strtoull(v, nullptr, 10);
            else if (a == "--unsignalled")
                o.unsignalledShare = Number(argv[i - 1], v);
            else if (a == "--bye-lost")
                o.byeLostShare = Number(argv[i - 1], v);
            else if (a == "--speech-share")
                o.speechShare = Number(argv[i - 1], v);
            else if (a == "--junk-rate")
                o.junkPerSecond = Number(argv[i - 1], v);
            else if (a == "--corpus")
                corpus = v;
            else if (a == "--calls-out")
                callsOut = v;
            else if (a == "--progress")
                progress = v;
            else if (a == "-o")
                out = v;
            else
                throw std::invalid_argument("unknown option " + a + "\n" + kUsage);
        } else {
            out = a;
        }
    }

    const lt::LongTrafficFrames frames = lt::LoadLongTrafficFrames(corpus);
    lt::LongTraffic traffic(o, frames);
    Output output;
    if (out != "-") {
        output.fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        output.name = out;
        if (output.fd < 0)
            throw std::runtime_error(out + ": " + std::strerror(errno));
    }
    std::FILE* calls = stderr;
    if (!callsOut.empty() && !(calls = std::fopen(callsOut.c_str(), "w")))
        throw std::runtime_error(callsOut + ": " + std::strerror(errno));
    int progressFd = -1;
    if (!progress.empty() && (progressFd = open(progress.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
        throw std::runtime_error(progress + ": " + std::strerror(errno));
    std::fprintf(calls, "# capture_start=%u hours=%g calls=%llu seed=%llu\n%s\n", lt::kLongTrafficFirstSecond, o.hours,
                 static_cast<unsigned long long>(o.calls), static_cast<unsigned long long>(o.seed),
                 lt::LongTrafficCallHeader().c_str());

    const lt::Bytes header = lt::PcapFileHeader(1);
    output.Put(header);
    uint64_t packets = 0, bytes = header.size(), closed = 0;
    int64_t nextSecond = 1;
    const auto report = [&](int64_t seconds) {
        output.Flush();
        std::fflush(calls);
        if (progressFd < 0)
            return;
        char line[96];
        const int n = std::snprintf(line, sizeof line, "%lld %llu %llu %llu %zu", static_cast<long long>(seconds),
                                    static_cast<unsigned long long>(packets), static_cast<unsigned long long>(bytes),
                                    static_cast<unsigned long long>(closed), traffic.openCalls());
        // Of fixed length, so that a reader never sees the end of a longer line before.
        std::memset(line + n, ' ', sizeof line - 1 - static_cast<size_t>(n));
        line[sizeof line - 1] = '\n';
        if (pwrite(progressFd, line, sizeof line, 0) != static_cast<ssize_t>(sizeof line))
            throw std::runtime_error(progress + ": " + std::strerror(errno));
    };
    for (bool more = true; more;) {
        more = traffic.Next();
        for (const lt::LongTrafficCall& c : traffic.endedCalls()) {
            std::fprintf(calls, "%s\n", lt::LongTrafficCallLine(c).c_str());
            ++closed;
        }
        if (!more)
            break;
        const int64_t micros = traffic.micros();
        if (micros >= nextSecond * 1000000) {
            report(micros / 1000000);
            nextSecond = micros / 1000000 + 1;
        }
        const lt::Bytes& p = traffic.packet();
        const auto seconds = static_cast<uint64_t>(micros / 1000000);
        PutLe32(output.buffer, static_cast<uint32_t>(lt::kLongTrafficFirstSecond + seconds));
        PutLe32(output.buffer, static_cast<uint32_t>(micros % 1000000));
        PutLe32(output.buffer, static_cast<uint32_t>(p.size()));
        PutLe32(output.buffer, static_cast<uint32_t>(p.size()));
        output.Put(p);
        ++packets;
        bytes += 16 + p.size();
        if (output.buffer.size() >= (1u << 20))
            output.Flush();
    }
    report(static_cast<int64_t>(o.hours * 3600));
    if (output.fd != 1 && close(output.fd) != 0)
        throw std::runtime_error(out + ": " + std::strerror(errno));
    if (calls != stderr && std::fclose(calls) != 0)
        throw std::runtime_error(callsOut + ": " + std::strerror(errno));
    if (progressFd >= 0)
        close(progressFd);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "mervox_long_traffic: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mervox_long_traffic: %s\n", e.what());
        return 1;
    }
}
