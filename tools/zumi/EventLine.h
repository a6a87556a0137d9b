#ifndef ZUMI_TOOLS_EVENTLINE_H
#define ZUMI_TOOLS_EVENTLINE_H

#include <string>

#include <zumi/zumi.h>

namespace zumi {
namespace tool {

// One received event as `zumi wait` prints it: the source, the event name,
// then each parameter in the order the library delivered it, integers in
// decimal and strings as JSON string literals, separated by single blanks.
std::string formatEvent(const char* source, const char* event,
                        const veltra::kesh::zumi::SystemEventDataList& data);

}  // namespace tool
}  // namespace zumi

#endif
