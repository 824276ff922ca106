// Scheduling, ordered output and progress of a batch.
#include "batch.h"

#include "portability.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace cli
{
namespace
{

using Clock = std::chrono::steady_clock;

// What the user sees of a batch on stderr: on a terminal a progress line, kept below the
// other lines, and at the end a summary.
class Progress
{
public:
    Progress(bool enabled, unsigned jobs) : m_live(enabled && IsTerminal(stderr)), m_jobs(jobs), m_enabled(enabled) {}

    // Before other text goes to stderr.
    void Clear() const
    {
        if (m_live)
            std::fputs("\r\033[K", stderr);
    }
    void Show(size_t done, size_t known) const
    {
        if (m_live)
            std::fprintf(stderr, "mimeengine unpack: %zu/%zu messages, %.0f msgs/s", done, known, Rate(done));
    }
    void Summary(size_t total, size_t failed) const
    {
        Clear();
        if (m_enabled && total == 0)
            std::fputs("mimeengine unpack: no messages\n", stderr);
        else if (m_enabled)
            std::fprintf(stderr,
                         "mimeengine unpack: %zu messages, %zu succeeded, %zu failed, %.0f msgs/s on %u threads\n",
                         total, total - failed, failed, Rate(total), m_jobs);
    }

private:
    double Rate(size_t done) const
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        return seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    }

    const Clock::time_point m_start = Clock::now();
    const bool m_live;
    const unsigned m_jobs;
    const bool m_enabled;
};

// A message between the source and the output.
struct Slot
{
    BatchItem item;
    bool done = false;
};

// The messages taken from the source and not printed yet, in order, and the threads that
// unpack them: jobs of them, or none for one job, which the calling thread then does. The
// first unstarted message is window[started - printed].
class Scheduler
{
public:
    Scheduler(const std::function<void(BatchItem&)>& unpack, unsigned jobs) : m_unpack(unpack)
    {
        for (unsigned t = 0; jobs > 1 && t < jobs; ++t)
            m_threads.emplace_back([this] { Work(); });
    }
    ~Scheduler()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    // Runs the batch on this thread: reads the source ahead by up to limit messages, prints
    // the finished ones in order and, without threads, unpacks them itself.
    template <typename Print> void Run(BatchSource& source, size_t limit, Print print)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        bool sourceDone = false;
        for (;;)
        {
            if (!m_window.empty() && m_window.front().done)
            {
                Slot slot = std::move(m_window.front());
                m_window.pop_front();
                const size_t printed = ++m_printed;
                const size_t known = printed + m_window.size();
                lock.unlock();
                const bool more = print(slot.item, printed, known);
                lock.lock();
                if (!more)
                    return;
                continue;
            }
            if (!sourceDone && m_window.size() < limit)
            {
                lock.unlock();
                Slot slot;
                sourceDone = !source.Next(slot.item);
                lock.lock();
                if (!sourceDone)
                {
                    m_window.push_back(std::move(slot));
                    m_work.notify_one();
                }
                continue;
            }
            if (sourceDone && m_window.empty())
                return;
            if (m_threads.empty())
                UnpackNext(lock);
            else
                m_finished.wait(lock);
        }
    }

private:
    bool HasUnstarted() const { return m_started < m_printed + m_window.size(); }

    // Unpacks the first unstarted message, with lock held on entry and on return.
    void UnpackNext(std::unique_lock<std::mutex>& lock)
    {
        Slot& slot = m_window[m_started++ - m_printed];
        lock.unlock();
        m_unpack(slot.item);
        lock.lock();
        slot.done = true;
    }

    void Work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;)
        {
            m_work.wait(lock, [this] { return m_stopping || HasUnstarted(); });
            if (m_stopping)
                return;
            UnpackNext(lock);
            m_finished.notify_one();
        }
    }

    const std::function<void(BatchItem&)>& m_unpack;
    std::mutex m_mutex;
    std::condition_variable m_work;     // a message to unpack, or stop
    std::condition_variable m_finished; // a message is done
    std::deque<Slot> m_window;          // slots stay in place while other ends are pushed and popped
    size_t m_printed = 0;
    size_t m_started = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace

BatchResult RunBatch(BatchSource& source, const std::function<void(BatchItem&)>& unpack, const BatchSettings& settings)
{
    const unsigned jobs = settings.jobs < 1 ? 1 : settings.jobs;
    Progress progress(settings.summary, jobs);
    BatchResult result;
    // Each line is flushed as it is printed: a reader sees it at once, and a batch whose
    // reader has gone ends at its next line instead of unpacking on into a closed pipe.
    auto print = [&](BatchItem& item, size_t printed, size_t known) {
        progress.Clear();
        std::fputs(item.err.c_str(), stderr);
        std::fputs(item.out.c_str(), stdout);
        if (std::fflush(stdout) != 0)
        {
            result.outputFailed = true;
            return false;
        }
        if (result.messages++ == 0)
            result.firstStatus = item.status;
        result.failed += item.failed ? 1 : 0;
        progress.Show(printed, known);
        return true;
    };
    {
        Scheduler scheduler(unpack, jobs);
        // A few messages per thread are read ahead, so that no thread waits for the source;
        // no more, since each may be a staged copy on disk.
        scheduler.Run(source, 4 * static_cast<size_t>(jobs), print);
    }
    progress.Summary(result.messages, result.failed);
    return result;
}

} // namespace cli
