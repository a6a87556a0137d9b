#include "support/HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zumi {
namespace bench {

std::string executableDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) throw std::runtime_error("cannot read /proc/self/exe");
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

std::string makeTempDir() {
    char tmpl[] = "/tmp/zumi-bench-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error(std::string("mkdtemp: ") + strerror(errno));
    return tmpl;
}

HelperProcess::HelperProcess(const std::string& program, const std::vector<std::string>& args) {
    std::string path = executableDir() + "/" + program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(fds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    m_fromChild = fds[0];
}

HelperProcess::~HelperProcess() {
    if (m_pid > 0) {
        // A helper that ignores SIGTERM (or hangs in its shutdown) must not
        // hang the benchmark at exit: it gets two seconds, then SIGKILL.
        kill(m_pid, SIGTERM);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int status = 0;
        pid_t r = 0;
        while ((r = waitpid(m_pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < end) {
            usleep(1000);
        }
        if (r == 0) {
            kill(m_pid, SIGKILL);
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    if (m_fromChild >= 0) close(m_fromChild);
}

bool HelperProcess::readExactly(void* buffer, size_t size, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    char* out = static_cast<char*>(buffer);
    size_t got = 0;
    while (got < size) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        pollfd p{m_fromChild, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        ssize_t n = read(m_fromChild, out + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool HelperProcess::waitReady(std::chrono::milliseconds deadline) {
    char line[6];
    return readExactly(line, sizeof(line), deadline) && memcmp(line, "ready\n", 6) == 0;
}

}  // namespace bench
}  // namespace zumi
