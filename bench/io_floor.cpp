// The file work of a job and nothing else: reads the job's inputs and writes files of the
// sizes the engine wrote, with the same directories, through the same system calls a
// user-space engine must make (read and write through a buffer). It is the least any engine
// that decodes or encodes in user space pays, where the copy floor (cat, which copies inside
// the kernel) is the least any program pays.
//
//   io_floor PLAN [THREADS]
//
// PLAN holds one message per block of lines, in order:
//   M PATH       a message: PATH is read whole (more M lines before its first D or F
//                read more inputs of the same message)
//   D PATH       a directory made
//   F PATH SIZE  a file made (it must not exist yet) and SIZE bytes written to it
// With THREADS (default 1) threads, each takes the next message in turn, as the batch does.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

struct Output
{
    std::string path;
    long long size = -1; // -1: a directory
};

struct Message
{
    std::vector<std::string> inputs;
    std::vector<Output> outputs;
};

constexpr size_t kReadSize = 64 * 1024;   // the engine's reads
constexpr size_t kWriteSize = 256 * 1024; // the engine's writes of decoded bytes

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "io_floor: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void Run(const Message& message, std::vector<char>& buffer)
{
    for (const std::string& input : message.inputs)
    {
        const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            Fail(input);
        ssize_t got;
        while ((got = ::read(fd, buffer.data(), kReadSize)) > 0)
        {
        }
        if (got < 0)
            Fail(input);
        ::close(fd);
    }
    for (const Output& output : message.outputs)
    {
        if (output.size < 0)
        {
            if (::mkdir(output.path.c_str(), 0777) != 0 && errno != EEXIST)
                Fail(output.path);
            continue;
        }
        const int fd = ::open(output.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            Fail(output.path);
        for (long long left = output.size; left > 0;)
        {
            const size_t size = left < static_cast<long long>(kWriteSize) ? static_cast<size_t>(left) : kWriteSize;
            if (::write(fd, buffer.data(), size) != static_cast<ssize_t>(size))
                Fail(output.path);
            left -= static_cast<long long>(size);
        }
        if (::close(fd) != 0)
            Fail(output.path);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
    {
        std::fprintf(stderr, "usage: io_floor PLAN [THREADS]\n");
        return 2;
    }
    std::ifstream plan(argv[1]);
    if (!plan)
        Fail(argv[1]);
    std::vector<Message> messages;
    std::string line;
    while (std::getline(plan, line))
    {
        std::istringstream fields(line);
        std::string kind, path;
        fields >> kind >> path;
        if (kind == "M" && (messages.empty() || !messages.back().outputs.empty()))
            messages.emplace_back();
        if (messages.empty() || (kind != "M" && kind != "D" && kind != "F"))
        {
            std::fprintf(stderr, "io_floor: bad plan line: %s\n", line.c_str());
            return 2;
        }
        if (kind == "M")
            messages.back().inputs.push_back(path);
        else
        {
            Output output{path, -1};
            if (kind == "F")
                fields >> output.size;
            messages.back().outputs.push_back(output);
        }
    }
    const int threads = argc == 3 ? std::max(1, std::atoi(argv[2])) : 1;
    std::atomic<size_t> next{0};
    auto work = [&] {
        std::vector<char> buffer(kWriteSize, 'A');
        for (size_t i; (i = next.fetch_add(1)) < messages.size();)
            Run(messages[i], buffer);
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t)
        others.emplace_back(work);
    work();
    for (std::thread& thread : others)
        thread.join();
    return 0;
}
