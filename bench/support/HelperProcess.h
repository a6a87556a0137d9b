#ifndef ZUMI_BENCH_HELPERPROCESS_H
#define ZUMI_BENCH_HELPERPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zumi {
namespace bench {

// A helper program of the benchmarks (a server or a peer), started with
// fork/exec so that every cross-process figure really crosses a process
// boundary. The helper announces itself by writing "ready\n" on its stdout,
// which is a pipe back to us; some helpers go on writing binary records on it
// (for example the value a UI object received), read with readExactly.
//
// Threads: one owner thread. The destructor sends SIGTERM (SIGKILL two
// seconds later if needed) and reaps the child, so a benchmark that fails
// midway leaves no process behind.
class HelperProcess {
public:
    // program is a file name next to the running benchmark executable.
    HelperProcess(const std::string& program, const std::vector<std::string>& args);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Waits for "ready\n". False when the helper died or stayed silent.
    bool waitReady(std::chrono::milliseconds deadline);
    // Reads exactly size bytes from the helper's stdout; false on EOF or
    // when the deadline passes first.
    bool readExactly(void* buffer, size_t size, std::chrono::milliseconds deadline);
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_fromChild = -1;
};

// The directory holding the running executable (where the helpers are built).
std::string executableDir();
// A fresh private directory for sockets, removed by nobody: it lives in /tmp.
std::string makeTempDir();

}  // namespace bench
}  // namespace zumi

#endif
