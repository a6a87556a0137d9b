#ifndef ZUMI_BUS_CORE_STATUSTEXT_H
#define ZUMI_BUS_CORE_STATUSTEXT_H

#include <libzumi/ZumiTypes.h>

namespace zumi {
namespace bus {

// Static text for every status; shared by libzumi and the test double so that
// messages read the same in unit tests and on a real bus.
const char* statusText(ZumiStatus status);

// The daemon's words for this thread's latest ZUMI_ERR_POLICY_DENIED
// (ZumiGetLastRefusal).
void noteRefusal(const char* message);
const char* lastRefusal();

}  // namespace bus
}  // namespace zumi

#endif
