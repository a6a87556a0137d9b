#ifndef ZUMI_TOOLS_POLICY_H
#define ZUMI_TOOLS_POLICY_H

// The bus's policy for services on a system-type bus, which denies by
// default: the base policy installed beside libzumi (every user may read
// every service's properties and listings and receive its events), and the
// snippet `zumi policy` prints for one service (who may own it, who may
// write to it, who may read it). Both are written from the one table of
// rules in Policy.cpp, so that a new method of the services' object is
// opened, or guarded, in both at once.

#include <string>
#include <vector>

namespace zumi {
namespace tool {

struct ServicePolicy {
    std::string service;
    std::string owner;                // the user that serves it
    std::vector<std::string> writers; // groups that may write
    std::vector<std::string> readers; // groups that may read; empty: every user
};

// The file installed as share/dbus-1/system.d/com.tessal.zumi.conf.
std::string basePolicy();
// A complete <busconfig> for one service, to install beside the base.
std::string servicePolicy(const ServicePolicy& policy);

}  // namespace tool
}  // namespace zumi

#endif
