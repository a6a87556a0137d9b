#ifndef ZUMI_HANDLER_REMOTEFAILURES_H
#define ZUMI_HANDLER_REMOTEFAILURES_H

// The exceptions of failed remote operations, and the string set's fallback
// from one service to another, written once for the synchronous operations
// (VimoZumiHandler, the hash-array wrapper) and their asynchronous forms
// (src/async), so that both behave and report alike.
// Threads: any; no state.

#include <zumi/ZumiException.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

// error: a text of the library's own, where it refused the read itself.
ZumiException readFailure(const char* source, const char* property, ZumiStatus status,
                          const char* error = nullptr);
// value as passed: a string, or an int shown in signed decimal.
ZumiException writeFailure(const char* source, const char* property, const char* value,
                           ZumiStatus status);
ZumiException writeFailure(const char* source, const char* property, int value, ZumiStatus status);
ZumiException sendFailure(const char* eventName, ZumiStatus status);
ZumiException hashAccessFailure(const char* publisher, const char* propertyName, ZumiStatus status);

// The service a failed string set on `source` is tried once more on, or null
// when it is not tried again (only the nimbo service falls back, to titlerail).
const char* stringSetFallback(const char* source);
// The E line that tells how the retry went.
void logStringSetFallback(const char* property, bool succeeded);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
