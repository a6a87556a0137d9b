#include <zumi/ZumiHandler.h>

namespace veltra {
namespace kesh {
namespace zumi {

// Out of line so that the interface's type information lives in this library
// only.
ZumiHandler::~ZumiHandler() {}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
