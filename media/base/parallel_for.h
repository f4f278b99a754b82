// Independent jobs on a few threads: job i of `count` runs exactly once, on
// whichever worker is free, and the call returns when every job is done.
// Jobs are taken in index order, so the first ones start first; a job
// must not throw (catch inside it and record the failure).
#pragma once

#include <cstddef>
#include <functional>

namespace mervox::media::base {

// The number of processors this process may run on (at least 1): the
// default number of workers.
unsigned DefaultWorkerCount();

// Runs job(0) ... job(count - 1) on at most `workers` threads, the calling
// thread included. If the system refuses a thread, the workers it already
// has do all the jobs. `workers` 0 counts as 1.
void ParallelFor(size_t count, unsigned workers, const std::function<void(size_t)>& job);

}  // namespace mervox::media::base
