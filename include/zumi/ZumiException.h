#ifndef ZUMI_ZUMIEXCEPTION_H
#define ZUMI_ZUMIEXCEPTION_H

#include <stdexcept>
#include <string>

#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Thrown for a failed or refused bus call. The message is reported unchanged
/// by every catch site of the library, so it is kept exactly as built: a
/// headline, then for each field " --name: value" (for example
/// "Could not retrieve the request property. --source: s --property: p
///  --errorCode: 5 --error: ...").
class ZUMI_EXPORT ZumiException : public std::runtime_error {
public:
    /// message is what what() returns, unchanged.
    explicit ZumiException(const std::string& message);
    ~ZumiException() override;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
