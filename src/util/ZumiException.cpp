#include <zumi/ZumiException.h>

namespace veltra {
namespace kesh {
namespace zumi {

ZumiException::ZumiException(const std::string& message) : std::runtime_error(message) {}

ZumiException::~ZumiException() = default;

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
