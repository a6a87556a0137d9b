// The physical floor of a bus round trip: a request goes client -> relay ->
// server and the answer comes back the same way, over Unix stream sockets,
// exactly as a message crosses the dbus-daemon, minus every byte of
// marshalling, routing and policy.
//
//   bench_unix_hop echo  SOCKET           answers each 64-byte message with itself
//   bench_unix_hop relay SOCKET TARGET    forwards each message to TARGET and back
//
// Each side serves one connection at a time with blocking reads: nothing is
// cheaper than that, which is the point of a floor.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/BenchNames.h"

using zumi::bench::RELAY_MESSAGE_SIZE;

namespace {

sockaddr_un address(const char* path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    strncpy(a.sun_path, path, sizeof(a.sun_path) - 1);
    return a;
}

bool transfer(int fd, char* buffer, bool reading) {
    int done = 0;
    while (done < RELAY_MESSAGE_SIZE) {
        ssize_t n = reading ? read(fd, buffer + done, RELAY_MESSAGE_SIZE - done)
                            : write(fd, buffer + done, RELAY_MESSAGE_SIZE - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<int>(n);
    }
    return true;
}

int connectTo(const char* path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = address(path);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::string(argv[1]) == "relay" && argc < 4)) {
        fprintf(stderr, "usage: bench_unix_hop echo SOCKET | relay SOCKET TARGET\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const bool relay = std::string(argv[1]) == "relay";
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = address(argv[2]);
    unlink(argv[2]);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(listener, 4) != 0) {
        perror("bench_unix_hop: bind");
        return 1;
    }
    if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;

    char buffer[RELAY_MESSAGE_SIZE];
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        int server = relay ? connectTo(argv[3]) : -1;
        if (relay && server < 0) {
            close(client);
            continue;
        }
        while (transfer(client, buffer, true)) {
            if (relay && !(transfer(server, buffer, false) && transfer(server, buffer, true))) break;
            if (!transfer(client, buffer, false)) break;
        }
        if (server >= 0) close(server);
        close(client);
    }
}
