#ifndef ZUMI_HANDLER_PROPERTYCALLBACKS_H
#define ZUMI_HANDLER_PROPERTYCALLBACKS_H

// The callbacks that the bus library calls when another service reads, writes
// or accesses a published property. Their user data is the registry of their
// type (VimoZumiPropertyPublisherRegistrar). Each answers a status:
//   0   served (the setters log "Returning zumiErrNone")
//   8   no publisher under that name in the registry
//   10  string getter only: the buffer is too small; *size holds the need
//   258 null user data, or the publisher threw
// Threads: the bus library's callback thread. Nothing ever escapes them: a
// ZumiException, or any other exception, becomes 258 after an E line.
// Locks: the registry's, only while the publisher is looked up; a callback
// holds its own strong reference to the publisher for the length of the call,
// so an unpublish during the call does not destroy it under the callback.

#include <zumi/ZumiHandler.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

template <typename ValueType, typename PropertyType>
unsigned int onPropertyGet(ZumiHandleStruct* handle, const char* name, ValueType* value,
                           void* data);
template <typename BufferType, typename PropertyType>
unsigned int onPropertyGet(ZumiHandleStruct* handle, const char* name, BufferType* buffer,
                           unsigned int* size, void* data);
template <typename ValueType, typename PropertyType>
unsigned int onPropertySet(ZumiHandleStruct* handle, const char* name, ValueType value,
                           void* data);
template <typename InputType, typename OutputType>
unsigned int onPropertyAccessed(ZumiHandleStruct* handle, const char* name, InputType input,
                                OutputType output, void* data);

template <>
unsigned int onPropertyGet<int, int>(ZumiHandleStruct* handle, const char* name, int* value,
                                     void* data);
// *size is the capacity of buffer on entry.
template <>
unsigned int onPropertyGet<char, const char*>(ZumiHandleStruct* handle, const char* name,
                                              char* buffer, unsigned int* size, void* data);
template <>
unsigned int onPropertySet<int, int>(ZumiHandleStruct* handle, const char* name, int value,
                                     void* data);
template <>
unsigned int onPropertySet<const char*, const char*>(ZumiHandleStruct* handle, const char* name,
                                                     const char* value, void* data);
// Hands the publisher's setValue a copy of input; output is left untouched.
template <>
unsigned int onPropertyAccessed<ZumiHasharrayHandleStruct*, ZumiHasharrayHandleStruct*>(
    ZumiHandleStruct* handle, const char* name, ZumiHasharrayHandleStruct* input,
    ZumiHasharrayHandleStruct* output, void* data);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
