#ifndef ZUMI_BENCH_BUSSTATS_H
#define ZUMI_BENCH_BUSSTATS_H

namespace zumi {
namespace bench {

// The number of match rules (bus subscriptions) that the daemon holds for
// the connection owning busName, from the daemon's statistics interface;
// -1 when the daemon does not tell.
int matchRulesOf(const char* busName);

// The process id of the connection owning busName ("org.freedesktop.DBus":
// the daemon itself); -1 when the daemon does not tell.
int processIdOf(const char* busName);

}  // namespace bench
}  // namespace zumi

#endif
