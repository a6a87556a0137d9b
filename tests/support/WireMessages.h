#ifndef ZUMI_TESTS_SUPPORT_WIREMESSAGES_H
#define ZUMI_TESTS_SUPPORT_WIREMESSAGES_H

// D-Bus messages without a daemon, for the wire format's test and fuzzer: a
// bus over one end of a socket pair is enough for sd-bus to build messages,
// and a sealed message reads back as a received one does.

#include <sys/socket.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

class WireMessages {
public:
    WireMessages() {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) < 0 || sd_bus_new(&m_bus) < 0 ||
            sd_bus_set_fd(m_bus, m_fds[0], m_fds[0]) < 0 || sd_bus_start(m_bus) < 0) {
            m_bus = sd_bus_unref(m_bus);
        }
    }
    ~WireMessages() {
        sd_bus_close_unref(m_bus);  // closes m_fds[0]
        if (m_fds[1] >= 0) close(m_fds[1]);
    }
    WireMessages(const WireMessages&) = delete;
    WireMessages& operator=(const WireMessages&) = delete;

    // A signal to append to; null if sd-bus could not make one.
    sd_bus_message* make() {
        sd_bus_message* message = nullptr;
        if (m_bus == nullptr || sd_bus_message_new_signal(m_bus, &message, "/t", "t.T", "M") < 0) return nullptr;
        return message;
    }
    // Makes what was appended readable from its start, as if received.
    static bool seal(sd_bus_message* message) {
        static uint64_t cookie = 0;
        return sd_bus_message_seal(message, ++cookie, 0) >= 0 && sd_bus_message_rewind(message, 1) >= 0;
    }

private:
    int m_fds[2] = {-1, -1};
    sd_bus* m_bus = nullptr;
};

#endif
