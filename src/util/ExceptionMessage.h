#ifndef ZUMI_UTIL_EXCEPTIONMESSAGE_H
#define ZUMI_UTIL_EXCEPTIONMESSAGE_H

// The one way the library builds the message of a ZumiException for a failed
// bus call: the headline, then for each field, in the site's order, " --",
// the field's name, ": " and the value, nothing else between the pieces.
//
//   throw ZumiException(ExceptionMessage("Could not send event.")
//                           .field("event", eventName)
//                           .status(status)
//                           .str());
//
// A null text is written "(null)", integers in signed decimal, and status()
// adds errorCode (unsigned decimal) and error (ZumiGetErrorString's text,
// followed by ": " and the daemon's words for a refusal by the bus's policy).

#include <string>

#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace util {

class ExceptionMessage {
public:
    explicit ExceptionMessage(const char* headline);

    ExceptionMessage& field(const char* name, const char* value);
    ExceptionMessage& field(const char* name, int value);
    ExceptionMessage& status(ZumiStatus status);
    // errorCode as above, with a text of the library's own in place of the
    // bus library's, where the library refused the call itself.
    ExceptionMessage& status(ZumiStatus status, const char* error);

    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
