#ifndef ZUMI_BUS_CORE_STATUSTEXT_H
#define ZUMI_BUS_CORE_STATUSTEXT_H

#include <libzumi/ZumiTypes.h>

namespace zumi {
namespace bus {

// Static text for every status; shared by libzumi and the test double so that
// messages read the same in unit tests and on a real bus.
const char* statusText(ZumiStatus status);

}  // namespace bus
}  // namespace zumi

#endif
