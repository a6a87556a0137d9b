#include "util/ExceptionMessage.h"

#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace util {

ExceptionMessage::ExceptionMessage(const char* headline) : m_text(headline) {}

ExceptionMessage& ExceptionMessage::field(const char* name, const char* value) {
    m_text.append(" --").append(name).append(": ").append(value != nullptr ? value : "(null)");
    return *this;
}

ExceptionMessage& ExceptionMessage::field(const char* name, int value) {
    return field(name, std::to_string(value).c_str());
}

ExceptionMessage& ExceptionMessage::status(ZumiStatus status) {
    // A refusal by the bus's policy is useless without the daemon's words:
    // which rule refused whom what.
    if (status == ZUMI_ERR_POLICY_DENIED && *ZumiGetLastRefusal() != '\0') {
        return this->status(status,
                            (std::string(ZumiGetErrorString(status)) + ": " + ZumiGetLastRefusal()).c_str());
    }
    return this->status(status, ZumiGetErrorString(status));
}

ExceptionMessage& ExceptionMessage::status(ZumiStatus status, const char* error) {
    field("errorCode", std::to_string(status).c_str());
    return field("error", error);
}

}  // namespace util
}  // namespace kesh
}  // namespace veltra
