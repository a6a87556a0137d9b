#ifndef ZUMI_EVENTS_NULLTEXT_H
#define ZUMI_EVENTS_NULLTEXT_H

namespace veltra {
namespace kesh {
namespace zumi {

// Event names are printed into log lines with %s; a missing one is written
// "NULL" rather than handed to printf as a null pointer.
inline const char* textOrNull(const char* text) { return text != nullptr ? text : "NULL"; }

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
