#ifndef ZUMI_BRIDGE_ZUMIPROPERTYPUBLISHERTOGTKBRIDGE_H
#define ZUMI_BRIDGE_ZUMIPROPERTYPUBLISHERTOGTKBRIDGE_H

#include <glib.h>
#include <pthread.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <utility>

#include <zumi/ZumiHandler.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>
#include <zumi/ZumiPropertyPublisherUI.h>

#include "bridge/SetValueArgs.h"
#include "util/NotCopyable.h"

namespace veltra {
namespace kesh {
namespace zumi {

// The bridge between a handler's published properties and a GTK UI object.
//
// Threads:
//  - createNewInstance: any application thread, the main loop's or another;
//    the handler's publish operation calls isReadable/isWritable there.
//  - getValue, setValue, isReadable, isWritable: the bus library's thread.
//  - onGDKIdle_setValue/onIdle_setValue (deliveries), onSourceDestory_setValue
//    (destroy notifications) and detachFromUI: the GLib main-loop thread.
//    A delivery calls the UI object without m_mutex, so it relies on
//    detachFromUI and the UI object's destruction running on that same thread.
//  - The destructor: whichever thread drops the last reference.
//
// Locks: the GDK threads lock before m_mutex, never the other way round.
// getValue takes both, in that order; a delivery runs with the GDK lock held
// by GDK's idle wrapper and takes m_mutex only to read m_uiPublisher; setValue
// takes m_mutex only, so the bus thread never waits for GDK-locked work.
// m_mutex is recursive because detachFromUI removes sources while holding it
// and GLib runs their destroy notifications, which take it again, inside
// that removal. While holding it detachFromUI calls the handler's unpublish
// operations (the registry lock) and GLib.
//
// Bridge states (m_uiPublisher tells them apart):
//   Attached (set):  names published, any number of pending sets.
//   Detached (null): names withdrawn, no pending sets; the only state in
//                    which the bridge may be destroyed. There is no way back.
//                    (A bridge abandoned off the main loop may still hold
//                    pending sets until the main loop cancels them; the
//                    source that does so keeps the bridge alive till then.)
//
// A deferred set (SetValueArgs) goes through:
//   Queued     setValue made the record, its entry (record -> source ID) is
//              in m_pendingSetValues and its idle source exists.
//   Delivering the source's callback runs; the UI object gets the value
//              unless the bridge is detached (D line, value dropped).
//   Cancelled  detachFromUI removed the source before it ran.
//   Unlinked   detachFromUI ran while this very set was being delivered (the
//              UI object detached from inside its setValue): GLib has
//              destroyed the source but holds back its destroy notification
//              until the delivery returns, so g_source_remove no longer knows
//              the ID. The orphan branch logs its W line, drops the entry and
//              clears m_bridge, because the bridge may be gone by the time the
//              notification comes.
//   Released   the destroy notification ran (exactly once per source, after
//              a delivery, inside a cancelling g_source_remove, or after an
//              Unlinked delivery returned): entry removed if the record is
//              still linked, then the record deleted. Nothing else deletes a
//              queued record, so it is deleted once and never while in use.
template <typename PropertyType>
class ZumiPropertyPublisherToGTKBridge : public ZumiPropertyPublisherToUIBridge<PropertyType>,
                                         private veltra::bramwick::util::NotCopyable {
public:
    typedef std::map<std::string, std::pair<bool, bool>> PropertyMap;  // name -> (readable, writable)

    // Builds, wraps and publishes a bridge; if publishing fails, the names
    // already published are withdrawn and the bridge detached before the
    // exception leaves (see abandon). May run on any application thread.
    static std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>> createNewInstance(
        ZumiHandlerSharedPtr handler, ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
        const PropertyMap& properties);

    ZumiPropertyPublisherToGTKBridge(ZumiHandlerSharedPtr handler,
                                     ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
                                     const PropertyMap& properties);
    // Ends the process with status 1 when still Attached.
    ~ZumiPropertyPublisherToGTKBridge() override;

    void getValue(const char* propertyName, PropertyType* value) override;
    void setValue(const char* propertyName, PropertyType value) override;
    bool isReadable(const char* propertyName) const override;
    bool isWritable(const char* propertyName) const override;
    void detachFromUI() noexcept override;

    static gboolean onGDKIdle_setValue(gpointer data);
    void onIdle_setValue(SetValueArgs<PropertyType>* args) noexcept;
    static void onSourceDestory_setValue(gpointer data);

private:
    // Undoes a createNewInstance whose publication of `failed` threw: the
    // names published so far are withdrawn (only those this bridge holds, by
    // name and type), the bridge is detached, and its pending sets are
    // cancelled where no delivery can be running, on the main loop if one
    // runs on another thread (`self` keeps the bridge alive till then).
    void abandon(ZumiHandler& handler, typename PropertyMap::const_iterator failed,
                 const std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>>& self) noexcept;
    void withdrawAfterFailure(ZumiHandler& handler, typename PropertyMap::const_iterator failed);
    void cancelPendingSetValues();

    pthread_mutex_t m_mutex;
    std::weak_ptr<ZumiHandler> m_handler;
    ZumiPropertyPublisherUI<PropertyType>* m_uiPublisher;
    const PropertyMap m_properties;  // never changes, so read without a lock
    std::map<SetValueArgs<PropertyType>*, uint32_t> m_pendingSetValues;
};

// The handler's publish / unpublish operation for PropertyType, nothing more.
template <typename PropertyType>
void publishProperty(ZumiHandler* handler, const char* propertyName,
                     std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>>& publisher);
template <typename PropertyType>
void unpublishProperty(ZumiHandler* handler, const char* propertyName);

// Hands a delivered set to the UI object: the record's name and its value as
// BridgeTraits says (the characters of the copy for const char*).
template <typename PropertyType>
void callSetValueOnUIPublisher(const SetValueArgs<PropertyType>& args,
                               ZumiPropertyPublisherUI<PropertyType>* uiPublisher);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
