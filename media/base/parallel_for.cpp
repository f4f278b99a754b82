#include "base/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace mervox::media::base {

unsigned DefaultWorkerCount()
{
    // The processors this process may run on rather than the machine's.
    const unsigned n = platform::UsableProcessors();
    return n > 0 ? n : std::max(1u, std::thread::hardware_concurrency());
}

void ParallelFor(size_t count, unsigned workers, const std::function<void(size_t)>& job)
{
    std::atomic<size_t> next{0};
    const auto work = [&]() {
        for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            job(i);
    };
    const size_t extra = std::min<size_t>(count, std::max(1u, workers)) - (count > 0 ? 1 : 0);
    std::vector<std::thread> threads;
    threads.reserve(extra);
    for (size_t t = 0; t < extra; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads: those running share the jobs
        }
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace mervox::media::base
