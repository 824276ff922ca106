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

// The messages taken from the source and not printed yet, in order, and jobs threads (the
// calling one among them) that share every step of the batch: each reads the next message
// from the source while fewer than jobs wait to be started, else takes the first of them,
// unpacks it and then prints whatever is done at the head of the window. No thread hands work
// to another, so a thread waits only when the window is full behind a message still being
// unpacked, when none is left to start while another thread reads, or at the end. The source
// is read, and the output printed, by one thread at a time. The first unstarted message is
// window[started - printed].
template <typename Print> class Scheduler
{
public:
    Scheduler(BatchSource& source, const std::function<void(BatchItem&)>& unpack, Print& print, unsigned jobs,
              size_t limit)
        : m_source(source), m_unpack(unpack), m_print(print), m_jobs(jobs), m_limit(limit)
    {
    }

    // Runs the batch on the calling thread and jobs - 1 more.
    void Run()
    {
        std::vector<std::thread> threads;
        for (unsigned t = 1; t < m_jobs; ++t)
            threads.emplace_back([this] { Work(); });
        Work();
        for (std::thread& thread : threads)
            thread.join();
    }

private:
    size_t Unstarted() const { return m_printed + m_window.size() - m_started; }

    void Work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;)
        {
            if (m_stopping)
                return;
            // The source is read ahead while fewer messages wait than there are threads, so
            // that a thread done with one finds the next without waiting for a read.
            if (!m_reading && !m_sourceDone && m_window.size() < m_limit && Unstarted() < m_jobs)
            {
                m_reading = true;
                lock.unlock();
                Slot slot;
                const bool more = m_source.Next(slot.item);
                lock.lock();
                m_reading = false;
                if (more)
                    m_window.push_back(std::move(slot));
                else
                {
                    m_sourceDone = true;
                    PrintDone(lock);
                }
                m_changed.notify_all();
                continue;
            }
            if (Unstarted() > 0)
            {
                Slot& slot = m_window[m_started++ - m_printed];
                lock.unlock();
                m_unpack(slot.item);
                lock.lock();
                slot.done = true;
                PrintDone(lock);
                continue;
            }
            if (m_sourceDone && !m_reading && m_window.empty())
            {
                m_stopping = true;
                m_changed.notify_all();
                return;
            }
            // Nothing to take: the window is full behind a message being unpacked, or the
            // source is being read.
            m_changed.wait(lock);
        }
    }

    // Prints the finished messages at the head of the window, unless another thread is
    // printing: that one then prints these too. With the lock held on entry and on return.
    void PrintDone(std::unique_lock<std::mutex>& lock)
    {
        if (m_printing)
            return;
        m_printing = true;
        bool printed = false;
        while (!m_stopping && !m_window.empty() && m_window.front().done)
        {
            Slot slot = std::move(m_window.front());
            m_window.pop_front();
            const size_t count = ++m_printed;
            const size_t known = count + m_window.size();
            lock.unlock();
            const bool more = m_print(slot.item, count, known);
            lock.lock();
            printed = true;
            if (!more)
                m_stopping = true;
        }
        m_printing = false;
        // Room in the window, or the end.
        if (printed)
            m_changed.notify_all();
    }

    BatchSource& m_source;
    const std::function<void(BatchItem&)>& m_unpack;
    Print& m_print;
    const unsigned m_jobs;
    const size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed; // a message read, printed, or the end
    std::deque<Slot> m_window;         // slots stay in place while other ends are pushed and popped
    size_t m_printed = 0;
    size_t m_started = 0;
    bool m_reading = false;  // a thread is reading the source
    bool m_printing = false; // a thread is printing
    bool m_sourceDone = false;
    bool m_stopping = false;
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
    // A few messages per thread may wait behind a slow one for their turn to print; no more,
    // since each may be a staged copy on disk.
    Scheduler<decltype(print)> scheduler(source, unpack, print, jobs, 4 * static_cast<size_t>(jobs));
    scheduler.Run();
    // A batch stopped by its output says so itself.
    if (result.outputFailed)
        progress.Clear();
    else
        progress.Summary(result.messages, result.failed);
    return result;
}

} // namespace cli
