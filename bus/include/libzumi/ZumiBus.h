#ifndef LIBZUMI_ZUMIBUS_H
#define LIBZUMI_ZUMIBUS_H

/* The contract of the bus library, libzumi: every operation it offers, in C.
 * libbramwickzumi (through src/platform/ZumiBus.h), the zumi command and the
 * benchmarks call them. On the device the platform's libzumi provides these
 * symbols; on any other Linux machine our own libzumi in bus/ does, over
 * D-Bus, and the unit tests link the in-process fake bus in testing/
 * instead. Nothing else declares them.
 *
 * Threads: every operation may be called from any thread. Callbacks (property
 * callbacks and event callbacks) run on one dispatch thread owned by the bus
 * library, never on the caller's thread or the application's main loop, in
 * the order requests arrived. A get or set that a process makes on a service
 * the same process serves goes to that service's dispatch thread without a
 * round trip through the daemon; made from inside a callback, it runs right
 * there on the callback's own dispatch thread, so a callback reading its own
 * service, or callbacks of the process's services reading each other's
 * properties, cannot deadlock. What can: an application thread that holds
 * something one of its own process's callbacks waits for (the GDK lock, say)
 * while it reads or writes a property its process serves. */

#include <stddef.h>

#include <libzumi/ZumiTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Statuses ------------------------------------------------------------
 * Values that property callbacks return travel back to the remote caller
 * unchanged, so the callback statuses (8, 10, 258) are part of the wire
 * contract. 81 and 82 are "soft" answers of the hash-array readers, which the
 * readers of this library accept like 0. */
enum {
    ZUMI_OK = 0,
    ZUMI_ERR_INVALID_ARGUMENT = 1,  /* a null or malformed argument */
    ZUMI_ERR_NO_BUS = 2,            /* no bus reachable at the address */
    ZUMI_ERR_NAME_TAKEN = 3,        /* the identifier is owned by another process */
    ZUMI_ERR_INVALID_NAME = 4,      /* the identifier is not a valid bus name */
    ZUMI_ERR_NO_SERVICE = 5,        /* no service owns that identifier */
    ZUMI_ERR_TIMEOUT = 6,           /* the service did not answer in time */
    ZUMI_ERR_NO_MEMORY = 7,
    ZUMI_ERR_NO_SUCH_PROPERTY = 8,  /* the service publishes no such property */
    ZUMI_ERR_ACCESS_DENIED = 9,     /* published, but not readable / writable */
    ZUMI_ERR_BUFFER_TOO_SMALL = 10, /* string getter: *size now holds the need */
    ZUMI_ERR_DISCONNECTED = 11,     /* the connection is closed or broken */
    ZUMI_ERR_ALREADY_REGISTERED = 12,
    ZUMI_ERR_PROTOCOL = 13,         /* a malformed message or reply */
    ZUMI_ERR_NO_MORE_PARAMS = 14,   /* event parameters of that kind exhausted */
    ZUMI_ERR_READ_ONLY = 15,        /* a hash array that was sent is read-only */
    ZUMI_ERR_INVALID_INDEX = 16,    /* no hash at that index */
    ZUMI_ERR_INVALID_ARRAY = 17,    /* a null or destroyed hash array */
    ZUMI_ERR_NOT_SUBSCRIBED = 18,
    ZUMI_ERR_TOO_LARGE = 19,        /* a value over the bus's size limits */
    ZUMI_ERR_FAILED = 20,           /* any other bus failure */
    ZUMI_ERR_BUS_LOST = 21,         /* the bus went away; the connection is reconnecting */
    ZUMI_ERR_POLICY_DENIED = 22,    /* the bus daemon's policy refused it (ZumiGetLastRefusal) */
    ZUMI_HASH_KEY_ABSENT = 81,      /* the hash has no such key: no value delivered */
    ZUMI_HASH_WRONG_TYPE = 82,      /* the key holds the other type: no value delivered */
    ZUMI_ERR_SERVICE_FAILED = 258   /* the service's callback failed */
};

/* ---- Callbacks -----------------------------------------------------------
 * Each gets the user data given at registration and returns a status. */
typedef unsigned int (*ZumiIntGetter)(ZumiHandle handle, const char* name, int* value, void* data);
/* *size is the capacity of buffer on entry; answer 10 with *size set to the
 * bytes needed (NUL included) and the bus library calls again. */
typedef unsigned int (*ZumiStringGetter)(ZumiHandle handle, const char* name, char* buffer,
                                         unsigned int* size, void* data);
typedef unsigned int (*ZumiIntSetter)(ZumiHandle handle, const char* name, int value, void* data);
typedef unsigned int (*ZumiStringSetter)(ZumiHandle handle, const char* name, const char* value,
                                         void* data);
/* input: the array the requester sent (NULL for a read); output: the reply
 * array that the requester receives, initially empty and writable. */
typedef unsigned int (*ZumiHasharrayAccessor)(ZumiHandle handle, const char* name,
                                              struct ZumiHasharrayHandleStruct* input,
                                              struct ZumiHasharrayHandleStruct* output, void* data);
typedef void (*ZumiEventCallback)(ZumiHandle handle, const char* eventName, ZumiEventHandle event,
                                  void* data);

/* ---- Connections ---------------------------------------------------------
 * serviceId becomes the connection's bus name; "" opens a client-only
 * connection. NULL with a non-zero *status on failure. Once ZumiClose returns,
 * no callback for the connection runs or is still running (unless ZumiClose is
 * called from such a callback).
 * A connection whose daemon goes away reconnects by itself and then owns its
 * name, serves its properties and receives its subscribed events again.
 * Meanwhile remote calls and event sends fail at once with
 * ZUMI_ERR_BUS_LOST, while registering, unregistering, subscribing and
 * unsubscribing succeed and take effect on the bus once it is back. */
ZUMI_BUS_EXPORT ZumiHandle ZumiOpenEx(const char* serviceId, ZumiStatus* status);
ZUMI_BUS_EXPORT ZumiStatus ZumiClose(ZumiHandle handle);

/* ---- Remote properties (synchronous) -------------------------------------- */
/* *text is allocated by the bus library; release it with ZumiFreeString. */
ZUMI_BUS_EXPORT ZumiStatus ZumiGetStringProperty(ZumiHandle handle, const char* service,
                                             const char* property, char** text);
ZUMI_BUS_EXPORT ZumiStatus ZumiGetIntProperty(ZumiHandle handle, const char* service,
                                          const char* property, int* value);
ZUMI_BUS_EXPORT ZumiStatus ZumiSetStringProperty(ZumiHandle handle, const char* service,
                                             const char* property, const char* value);
ZUMI_BUS_EXPORT ZumiStatus ZumiSetIntProperty(ZumiHandle handle, const char* service,
                                          const char* property, int value);
/* input NULL reads the property. *reply, delivered with any status, belongs to
 * the caller. An input array the service accepted (status 0) becomes
 * read-only; after any other status it is left as it was. */
ZUMI_BUS_EXPORT ZumiStatus ZumiAccessHasharrayProperty(ZumiHandle handle, const char* service,
                                                   const char* property,
                                                   struct ZumiHasharrayHandleStruct* input,
                                                   struct ZumiHasharrayHandleStruct** reply);
ZUMI_BUS_EXPORT void ZumiFreeString(char* text);

/* ---- Remote properties and events (asynchronous) ---------------------------
 * Each starts one call and returns at once. A non-zero status means nothing
 * was started and `done` will not run. Otherwise *id names the call and
 * `done` runs exactly once, later, on the bus library's asynchronous dispatch
 * thread (one per process, started with the first such call; never the
 * caller's thread), unless the call is cancelled first. Results of calls to
 * one service reach `done` in the order the calls were made.
 *
 * timeoutMs 0 means the synchronous calls' timeout. A call to a service that
 * this process serves itself runs its callback on that service's dispatch
 * thread, in turn with the bus's requests, and the caller never waits for it
 * (so it cannot wait for a lock the caller holds); its timeout is kept here.
 * A service that closes before serving it answers ZUMI_ERR_NO_SERVICE.
 *
 * The result is valid during `done` only, except the reply array of a
 * hash-array access, which is delivered with any status and belongs to
 * `done`'s receiver (release it with ZumiHasharrayDestroy). The array to send
 * is copied at the start: the caller's stays as it was, and writable. */
typedef unsigned long long ZumiCallId;
typedef struct ZumiCallResult {
    ZumiStatus status;
    int intValue;                            /* integer read, on ZUMI_OK */
    const char* text;                        /* string read, on ZUMI_OK, else "" */
    struct ZumiHasharrayHandleStruct* reply; /* hash-array access; NULL when none came */
} ZumiCallResult;
typedef void (*ZumiCallDone)(const ZumiCallResult* result, void* data);

ZUMI_BUS_EXPORT ZumiStatus ZumiGetIntPropertyAsync(ZumiHandle handle, const char* service,
                                                   const char* property, unsigned int timeoutMs,
                                                   ZumiCallDone done, void* data, ZumiCallId* id);
ZUMI_BUS_EXPORT ZumiStatus ZumiGetStringPropertyAsync(ZumiHandle handle, const char* service,
                                                      const char* property, unsigned int timeoutMs,
                                                      ZumiCallDone done, void* data, ZumiCallId* id);
ZUMI_BUS_EXPORT ZumiStatus ZumiSetIntPropertyAsync(ZumiHandle handle, const char* service,
                                                   const char* property, int value,
                                                   unsigned int timeoutMs, ZumiCallDone done,
                                                   void* data, ZumiCallId* id);
ZUMI_BUS_EXPORT ZumiStatus ZumiSetStringPropertyAsync(ZumiHandle handle, const char* service,
                                                      const char* property, const char* value,
                                                      unsigned int timeoutMs, ZumiCallDone done,
                                                      void* data, ZumiCallId* id);
/* input NULL reads the property. */
ZUMI_BUS_EXPORT ZumiStatus ZumiAccessHasharrayPropertyAsync(ZumiHandle handle, const char* service,
                                                            const char* property,
                                                            struct ZumiHasharrayHandleStruct* input,
                                                            unsigned int timeoutMs, ZumiCallDone done,
                                                            void* data, ZumiCallId* id);
/* The event leaves from the asynchronous dispatch thread; `done` gets the
 * status ZumiCreateAndSendEvent would have returned. */
ZUMI_BUS_EXPORT ZumiStatus ZumiCreateAndSendEventAsync(ZumiHandle handle, const char* eventName,
                                                       ZumiCallDone done, void* data, ZumiCallId* id);
/* ZUMI_OK: `done` of that call will never run (a reply still on its way is
 * dropped; a request already sent is not taken back). ZUMI_ERR_INVALID_ARGUMENT:
 * no such call of this handle is waiting, because `done` has run or is
 * running, or it never existed. Never waits. ZumiClose cancels every call
 * made on the handle and waits for a `done` still running on another thread. */
ZUMI_BUS_EXPORT ZumiStatus ZumiCancelCall(ZumiHandle handle, ZumiCallId id);

/* ---- Publishing ------------------------------------------------------------ */
ZUMI_BUS_EXPORT ZumiStatus ZumiRegisterStringProperty(ZumiHandle handle, const char* name,
                                                  ZumiStringGetter getter, ZumiStringSetter setter,
                                                  void* data);
ZUMI_BUS_EXPORT ZumiStatus ZumiRegisterIntProperty(ZumiHandle handle, const char* name,
                                               ZumiIntGetter getter, ZumiIntSetter setter,
                                               void* data);
ZUMI_BUS_EXPORT ZumiStatus ZumiRegisterHasharrayProperty(ZumiHandle handle, const char* name,
                                                     ZumiHasharrayAccessor accessor, void* data);
/* As above, for an accessor that serves only the accesses in `access`
 * (ZUMI_ACCESS_* bits, below); ZumiRegisterHasharrayProperty serves both. A
 * read (NULL input) without ZUMI_ACCESS_READ, or a write without
 * ZUMI_ACCESS_WRITE, is refused with ZUMI_ERR_ACCESS_DENIED before the
 * accessor runs; without ZUMI_ACCESS_READ the requester gets no reply array.
 * The listing of the service's properties shows these bits. */
ZUMI_BUS_EXPORT ZumiStatus ZumiRegisterHasharrayPropertyEx(ZumiHandle handle, const char* name,
                                                       ZumiHasharrayAccessor accessor,
                                                       unsigned access, void* data);
/* A name may be registered once per type (ZUMI_TYPE_*, below): an integer
 * "x" and a string "x" are two properties. ZumiUnregisterProperty names no
 * type, so it withdraws every type registered under the name; reserved must
 * be NULL. ZumiUnregisterPropertyOfType withdraws the one registration of
 * that type and leaves the name's other types published; it is what a
 * publisher of one type uses. Both answer ZUMI_ERR_NO_SUCH_PROPERTY when
 * they found nothing to withdraw. */
ZUMI_BUS_EXPORT ZumiStatus ZumiUnregisterProperty(ZumiHandle handle, const char* name, void* reserved);
ZUMI_BUS_EXPORT ZumiStatus ZumiUnregisterPropertyOfType(ZumiHandle handle, const char* name, int type);

/* ---- Events -------------------------------------------------------------
 * A send returns once the event is queued for the bus. When a connection
 * already has many events queued that the bus has not taken yet, a send
 * waits for the queue to drain, at most the call timeout, and then answers
 * ZUMI_ERR_TIMEOUT without sending. */
ZUMI_BUS_EXPORT ZumiStatus ZumiCreateAndSendEvent(ZumiHandle handle, const char* eventName);
/* An event with parameters: the integers, then the strings, each in order.
 * They travel as D-Bus's own types (ai, as), so a string must be UTF-8:
 * ZUMI_ERR_INVALID_ARGUMENT otherwise, before anything is sent. */
ZUMI_BUS_EXPORT ZumiStatus ZumiSendEventWithParams(ZumiHandle handle, const char* eventName,
                                               const int* ints, size_t intCount,
                                               const char* const* strings, size_t stringCount);
ZUMI_BUS_EXPORT ZumiStatus ZumiSubscribeExt(ZumiHandle handle, const char* source, const char* event,
                                        ZumiEventCallback callback, void* data);
/* data must be NULL. */
ZUMI_BUS_EXPORT ZumiStatus ZumiUnsubscribeExt(ZumiHandle handle, const char* source, const char* event,
                                          void** data);
/* Valid during the event callback; never freed by the caller. */
ZUMI_BUS_EXPORT const char* ZumiGetEventSource(ZumiEventHandle event);
/* Each call gives the next parameter of that kind; a non-zero status, with the
 * out value unchanged, when there is none. Texts belong to the event. */
ZUMI_BUS_EXPORT ZumiStatus ZumiGetIntParam(ZumiEventHandle event, int* value);
ZUMI_BUS_EXPORT ZumiStatus ZumiGetStringParam(ZumiEventHandle event, const char** value);

/* ---- Statuses as text ------------------------------------------------------ */
/* Static text; an unknown status has a text too. Never NULL. */
ZUMI_BUS_EXPORT const char* ZumiGetErrorString(ZumiStatus status);
/* The bus daemon's own words for the latest ZUMI_ERR_POLICY_DENIED of this
 * thread (which rule refused what, from whom to whom), "" before any. Valid
 * until this thread meets the next such refusal. An asynchronous call's
 * refusal is this thread's for the `done` that reports it. Never NULL. */
ZUMI_BUS_EXPORT const char* ZumiGetLastRefusal(void);

/* ---- Hash arrays ----------------------------------------------------------
 * None of these crashes on a NULL array: clone gives NULL, count is negative,
 * the others answer ZUMI_ERR_INVALID_ARRAY. An array travels as D-Bus's aa{sv}
 * (each hash a dictionary from key to a variant holding i or s), so sending
 * one whose keys or strings are not UTF-8 answers ZUMI_ERR_INVALID_ARGUMENT. */
ZUMI_BUS_EXPORT struct ZumiHasharrayHandleStruct* ZumiHasharrayNew(ZumiHandle handle);
ZUMI_BUS_EXPORT struct ZumiHasharrayHandleStruct* ZumiHasharrayClone(
    struct ZumiHasharrayHandleStruct* array);
ZUMI_BUS_EXPORT void ZumiHasharrayDestroy(struct ZumiHasharrayHandleStruct* array);
ZUMI_BUS_EXPORT int ZumiHasharrayGetHashCount(struct ZumiHasharrayHandleStruct* array);
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayAddHash(struct ZumiHasharrayHandleStruct* array, int* index);
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayGetInt(struct ZumiHasharrayHandleStruct* array, int index,
                                           const char* key, int* value);
/* *value belongs to the array. */
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayGetString(struct ZumiHasharrayHandleStruct* array, int index,
                                              const char* key, const char** value);
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayPutInt(struct ZumiHasharrayHandleStruct* array, int index,
                                           const char* key, int value);
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayPutString(struct ZumiHasharrayHandleStruct* array, int index,
                                              const char* key, const char* value);

/* ---- Introspection (for tools) ---------------------------------------------- */
enum { ZUMI_TYPE_INT = 0, ZUMI_TYPE_STRING = 1, ZUMI_TYPE_HASHARRAY = 2 };
enum { ZUMI_ACCESS_READ = 1, ZUMI_ACCESS_WRITE = 2 };
typedef struct ZumiPropertyInfo {
    char* name;
    int type;        /* ZUMI_TYPE_* */
    unsigned access; /* ZUMI_ACCESS_* bits */
} ZumiPropertyInfo;
/* The properties a service publishes, sorted by name. Free with
 * ZumiFreePropertyList. */
ZUMI_BUS_EXPORT ZumiStatus ZumiListProperties(ZumiHandle handle, const char* service,
                                          ZumiPropertyInfo** list, size_t* count);
ZUMI_BUS_EXPORT void ZumiFreePropertyList(ZumiPropertyInfo* list, size_t count);
/* The services on the bus (identifiers owned through ZumiOpenEx), sorted.
 * Free with ZumiFreeServiceList. */
ZUMI_BUS_EXPORT ZumiStatus ZumiListServices(ZumiHandle handle, char*** names, size_t* count);
ZUMI_BUS_EXPORT void ZumiFreeServiceList(char** names, size_t count);
/* The services that the bus daemon starts on the first call to them (each
 * has a D-Bus service file), whether running or not, sorted. The daemon
 * cannot tell which of them are libzumi's without starting them. Free with
 * ZumiFreeServiceList. */
ZUMI_BUS_EXPORT ZumiStatus ZumiListActivatableServices(ZumiHandle handle, char*** names,
                                                       size_t* count);
/* The keys of the hash at index, sorted, so that a tool can show a hash whose
 * keys it does not know. Statuses as for ZumiHasharrayGetInt. Free with
 * ZumiFreeKeyList. */
ZUMI_BUS_EXPORT ZumiStatus ZumiHasharrayGetKeys(struct ZumiHasharrayHandleStruct* array, int index,
                                            char*** keys, size_t* count);
ZUMI_BUS_EXPORT void ZumiFreeKeyList(char** keys, size_t count);

/* ---- Monitoring (for tools) ---------------------------------------------------
 * A passive view of the traffic between other processes, decoded in the
 * contract's terms. A monitor sees what passes through the bus daemon: a get
 * or set that a process makes on a service it serves itself never leaves the
 * process and is not seen. There is one record per answered request (in the
 * order the answers came), per request left unanswered past the call timeout
 * (ZUMI_CALL_TIMEOUT_MS of the monitoring process, and a second more), per
 * event, and per service that appears or goes. Calls of the standard
 * org.freedesktop.DBus.Properties interface on a service's object are the
 * same records: Get a read, Set a write (with the status that the standard
 * error stands for), GetAll a listing followed by a read of each property it
 * returned. A monitor is used by one thread at a time and starts no thread. */
enum {
    ZUMI_TRAFFIC_GET = 0,          /* a read of a property */
    ZUMI_TRAFFIC_SET = 1,          /* a write; for a hash array also the service's reply */
    ZUMI_TRAFFIC_LIST = 2,         /* a listing of a service's properties */
    ZUMI_TRAFFIC_EVENT = 3,
    ZUMI_TRAFFIC_SERVICE_UP = 4,   /* an identifier got an owner */
    ZUMI_TRAFFIC_SERVICE_DOWN = 5  /* an identifier lost its owner */
};
typedef struct ZumiTraffic {
    int kind;                 /* ZUMI_TRAFFIC_* */
    long long timeUsec;       /* wall clock (CLOCK_REALTIME) when the request or event passed */
    long long latencyUsec;    /* request to answer; -1 for an event, a service or a timeout */
    const char* caller;       /* the service of the requesting or sending process, else
                                 "program[pid]", else its unique bus name */
    int callerPid;            /* 0 when unknown */
    const char* service;      /* the service asked, or the event's source */
    const char* name;         /* property or event; "" for a listing or a service */
    int type;                 /* ZUMI_TYPE_* of a property; -1 otherwise */
    ZumiStatus status;        /* the answer; ZUMI_ERR_TIMEOUT when none came */
    int hasValue;             /* a set: the value written; a get: the value read (status 0) */
    int intValue;
    const char* text;         /* a string value; "" otherwise */
    struct ZumiHasharrayHandleStruct* array; /* a hash-array value, or NULL */
    struct ZumiHasharrayHandleStruct* reply; /* a hash-array set: the service's reply, or NULL */
    const int* ints;          /* an event's parameters, in order */
    size_t intCount;
    const char* const* strings;
    size_t stringCount;
    int spoofed;              /* an event whose sender does not own its source */
} ZumiTraffic;
typedef struct ZumiMonitorStruct* ZumiMonitorHandle;
/* Connects to the bus as a monitor. ZUMI_ERR_NO_BUS when the bus cannot be
 * reached, ZUMI_ERR_ACCESS_DENIED when the daemon refuses to be monitored. */
ZUMI_BUS_EXPORT ZumiStatus ZumiMonitorOpen(ZumiMonitorHandle* monitor);
/* Waits up to timeoutMs (negative: without end) for the next record:
 * ZUMI_OK with *traffic valid until the next call or ZumiMonitorClose,
 * ZUMI_ERR_TIMEOUT when none came, ZUMI_ERR_DISCONNECTED when the bus went
 * away (close the monitor; a new one may reach a restarted daemon). */
ZUMI_BUS_EXPORT ZumiStatus ZumiMonitorNext(ZumiMonitorHandle monitor, int timeoutMs,
                                       const ZumiTraffic** traffic);
ZUMI_BUS_EXPORT void ZumiMonitorClose(ZumiMonitorHandle monitor);

#ifdef __cplusplus
}
#endif

#endif
