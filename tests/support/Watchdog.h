#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

/** Ends the test process if a scope outlives its time limit, so that a hang
    or a deadlock fails at once and says where, instead of waiting for the
    test runner's time-out. */
class Watchdog final
{
public:
    Watchdog (const char* whatToName, std::chrono::milliseconds limit)
        : what (whatToName)
    {
        guard = std::thread ([this, limit]
        {
            std::unique_lock<std::mutex> lock (mutex);

            if (! finishedCondition.wait_for (lock, limit, [this] { return finished; }))
            {
                std::fprintf (stderr, "\nHung: %s did not finish within %lld ms\n", what, (long long) limit.count());
                std::fflush (stderr);
                std::abort();
            }
        });
    }

    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            finished = true;
        }

        finishedCondition.notify_one();
        guard.join();
    }

private:
    const char* what;
    std::mutex mutex;
    std::condition_variable finishedCondition;
    bool finished = false;
    std::thread guard;

    Watchdog (const Watchdog&) = delete;
    Watchdog& operator= (const Watchdog&) = delete;
};
