#ifndef ZUMI_EXAMPLES_PANELWINDOW_H
#define ZUMI_EXAMPLES_PANELWINDOW_H

// A GTK window whose state other processes read and write as bus properties
// of its service, through the library's GTK bridges:
//
//   brightness  int     read-write  the slider
//   kill        int     write-only  any value closes the window
//   title       string  read-write  the heading and the window title
//   status      string  read-only   what happened last
//   playlist    hash    read-write  a list of {"name": ...} shown as a line
//
// A hash-array property has one accessor for reads and writes, so the bus
// lists playlist as read-write; the panel only takes writes, and a read gets
// an empty array back.
//
// It also shows the last memory-pressure and dynamic-configuration events,
// received through the library's stock listeners, and reads the updated
// configuration values from the configuration service asynchronously
// (ZumiAsync), so that a slow service never freezes the window.
//
// Threads: construction, shutdown() and every GTK call run on the main
// thread with the GDK threads lock held. The bridges call getValue on the bus
// library's thread with the GDK lock held (so widgets may be read there) and
// setValue on the main loop with the GDK lock held. Listeners run on the main
// loop with the GDK lock held. No lock of our own is needed: the GDK lock
// serialises everything that touches the window's state.

#include <gtk/gtk.h>

#include <array>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <zumi/zumi.h>

namespace panel {

using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiPropertyPublisherToUIBridge;
using veltra::kesh::zumi::ZumiPropertyPublisherUI;

class PanelWindow : public ZumiPropertyPublisherUI<int>,
                    public ZumiPropertyPublisherUI<const char*>,
                    public ZumiPropertyPublisherUI<ZumiHasharrayHandleStruct*> {
public:
    explicit PanelWindow(ZumiHandlerSharedPtr handler);
    // Shuts down, unless shutdown() did already: the bridges must never
    // outlive this object attached to it.
    ~PanelWindow() override;

    // Detaches the bridges, unsubscribes the listeners, lets go of the
    // handler and then destroys the window; a second call does nothing. Call
    // on the main thread with the GDK lock held, after the main loop has
    // returned.
    void shutdown();

    void getValue(const char* name, int* value) override;
    void setValue(const char* name, int value) override;
    void getValue(const char* name, const char** value) override;
    void setValue(const char* name, const char* value) override;
    void getValue(const char* name, ZumiHasharrayHandleStruct** value) override;
    void setValue(const char* name, ZumiHasharrayHandleStruct* value) override;

    void showMemoryEvent(int kind);
    void showConfigUpdate(const std::list<std::string>& keys);
    // What the configuration row shows: the updated keys, then each value
    // read back from the configuration service, one line each as it arrives.
    const std::string& configText() const { return m_configText; }
    // What the playlist row shows: the count, then up to four names.
    std::string playlistText() const { return gtk_label_get_text(GTK_LABEL(m_playlistLabel)); }

private:
    class MemoryListener;
    class ConfigListener;

    struct Subscription {
        const char* source;
        const char* event;
        const veltra::kesh::zumi::SystemEventListener* listener;
    };
    std::vector<Subscription> subscriptions() const;

    static void onSliderMoved(GtkRange* range, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer);
    int sliderValue() const;
    void setStatus(const std::string& status);
    const char* keep(const std::string& text);

    ZumiHandlerSharedPtr m_handler;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_heading = nullptr;
    GtkWidget* m_slider = nullptr;
    GtkWidget* m_statusLabel = nullptr;
    GtkWidget* m_memoryLabel = nullptr;
    GtkWidget* m_configLabel = nullptr;
    GtkWidget* m_playlistLabel = nullptr;
    std::string m_title = "Zumi panel";
    std::string m_status = "ready";
    std::string m_configText;
    // Reads of updated configuration values not yet shown; cancelled by
    // shutdown(), the delivered ones dropped at the next update.
    std::vector<veltra::kesh::zumi::ZumiPendingCall> m_configReads;
    bool m_applyingRemoteValue = false;
    bool m_shutDown = false;

    // A string handed to a bridge must outlive the GDK lock it was read
    // under: the bus thread copies it just after. Each read gets its own slot
    // in this ring, which the main loop would have to overwrite 32 times in
    // that instant to reuse.
    std::array<std::string, 32> m_served;
    size_t m_nextServed = 0;

    std::unique_ptr<MemoryListener> m_memoryListener;
    std::unique_ptr<ConfigListener> m_configListener;
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<int>> m_intBridge;
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<const char*>> m_stringBridge;
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<ZumiHasharrayHandleStruct*>> m_hashBridge;
};

}  // namespace panel

#endif
