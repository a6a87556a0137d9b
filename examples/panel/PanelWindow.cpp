#include "PanelWindow.h"

#include <algorithm>

#include <cmath>
#include <map>
#include <utility>

namespace panel {

using namespace veltra::kesh::zumi;

namespace {

typedef std::map<std::string, std::pair<bool, bool>> Accesses;  // name -> (readable, writable)

const char* const MEMORY_EVENTS[] = {
    VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_LOW,
    VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_VERY_LOW,
    VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_CRITICAL,
    VimoMemoryEventListener::EVENT_PROCESS_TOO_LARGE,
};

const char* memoryKindName(int kind) {
    switch (kind) {
        case 1: return "memory low";
        case 2: return "memory very low";
        case 3: return "memory critical";
        case 257: return "process too large";
        default: return "unknown";
    }
}

GtkWidget* captionedRow(GtkWidget* box, const char* caption, GtkWidget* value) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* label = gtk_label_new(caption);
    gtk_widget_set_size_request(label, 150, -1);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), value, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    return value;
}

GtkWidget* valueLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    return label;
}

}  // namespace

// The stock listeners call these on the main loop with the GDK lock held.
class PanelWindow::MemoryListener : public VimoMemoryEventListener {
public:
    explicit MemoryListener(PanelWindow& panel) : m_panel(panel) {}
    void onMemoryEvent(int kind) override { m_panel.showMemoryEvent(kind); }

private:
    PanelWindow& m_panel;
};

class PanelWindow::ConfigListener : public VimoDynamicConfigUpdateEventListener {
public:
    explicit ConfigListener(PanelWindow& panel) : m_panel(panel) {}
    void onDynamicConfigUpdated(std::list<std::string>& keys) override {
        m_panel.showConfigUpdate(keys);
    }

private:
    PanelWindow& m_panel;
};

PanelWindow::PanelWindow(ZumiHandlerSharedPtr handler) : m_handler(std::move(handler)) {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_window), m_title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(m_window), 520, 300);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(onDelete), this);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_container_set_border_width(GTK_CONTAINER(box), 18);
    gtk_container_add(GTK_CONTAINER(m_window), box);

    m_heading = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(m_heading), 0);
    gtk_box_pack_start(GTK_BOX(box), m_heading, FALSE, FALSE, 4);
    GtkWidget* service = valueLabel(("service " + std::string(m_handler->getID())).c_str());
    gtk_box_pack_start(GTK_BOX(box), service, FALSE, FALSE, 0);

    m_slider = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
    gtk_scale_set_digits(GTK_SCALE(m_slider), 0);
    gtk_range_set_value(GTK_RANGE(m_slider), 50);
    g_signal_connect(m_slider, "value-changed", G_CALLBACK(onSliderMoved), this);
    captionedRow(box, "Brightness", m_slider);
    m_statusLabel = captionedRow(box, "Status", valueLabel(m_status.c_str()));
    m_memoryLabel = captionedRow(box, "Memory event", valueLabel("none yet"));
    m_configLabel = captionedRow(box, "Configuration", valueLabel("none yet"));
    m_playlistLabel = captionedRow(box, "Playlist", valueLabel("empty"));
    setValue("title", m_title.c_str());
    setStatus("ready");

    m_memoryListener.reset(new MemoryListener(*this));
    m_configListener.reset(new ConfigListener(*this));
    try {
        for (const Subscription& s : subscriptions()) {
            m_handler->subscribe(s.source, s.event, s.listener);
        }
        m_intBridge = createNewBridge<int>(
            m_handler, this, Accesses{{"brightness", {true, true}}, {"kill", {false, true}}});
        m_stringBridge = createNewBridge<const char*>(
            m_handler, this, Accesses{{"title", {true, true}}, {"status", {true, false}}});
        m_hashBridge = createNewBridge<ZumiHasharrayHandleStruct*>(
            m_handler, this, Accesses{{"playlist", {false, true}}});
    } catch (...) {
        shutdown();  // a bridge destroyed while attached would end the process
        throw;
    }
    gtk_widget_show_all(m_window);
}

PanelWindow::~PanelWindow() { shutdown(); }

std::vector<PanelWindow::Subscription> PanelWindow::subscriptions() const {
    std::vector<Subscription> result;
    for (const char* event : MEMORY_EVENTS) {
        result.push_back({VimoMemoryEventListener::MEMORY_EVENT_SOURCE, event,
                          m_memoryListener.get()});
    }
    result.push_back({VimoDynamicConfigUpdateEventListener::DC_UPDATE_EVENT_SOURCE,
                      VimoDynamicConfigUpdateEventListener::EVENT_DYNAMIC_CONFIG_UPDATED,
                      m_configListener.get()});
    return result;
}

void PanelWindow::shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    // Bridges first: once detached they never call this object again.
    if (m_intBridge) m_intBridge->detachFromUI();
    if (m_stringBridge) m_stringBridge->detachFromUI();
    if (m_hashBridge) m_hashBridge->detachFromUI();
    try {
        for (const Subscription& s : subscriptions()) {
            m_handler->unsubscribe(s.source, s.event, s.listener);
        }
    } catch (const std::exception& e) {
        g_warning("zumi-panel: unsubscribing failed: %s", e.what());
    }
    // On the main thread, cancelling guarantees that no read calls back
    // into the window about to go.
    for (veltra::kesh::zumi::ZumiPendingCall& read : m_configReads) read.cancel();
    m_configReads.clear();
    // The handler before the window it serves: from here on nothing of the
    // bus reaches this object. main() drops the last reference only after it
    // has given up the GDK lock, which closing the connection may wait for.
    m_handler.reset();
    if (m_window != nullptr) gtk_widget_destroy(m_window);
    m_window = nullptr;
}

// ---- Bus thread, GDK lock held ----

void PanelWindow::getValue(const char* name, int* value) {
    if (std::string(name) != "brightness") throw ZumiException(std::string(name) + " is not readable");
    *value = sliderValue();
}

void PanelWindow::getValue(const char* name, const char** value) {
    std::string which = name;
    if (which == "title") *value = keep(m_title);
    else if (which == "status") *value = keep(m_status);
    else throw ZumiException(which + " is not readable");
}

void PanelWindow::getValue(const char* name, ZumiHasharrayHandleStruct**) {
    throw ZumiException(std::string(name) + " is not readable");
}

const char* PanelWindow::keep(const std::string& text) {
    std::string& slot = m_served[m_nextServed++ % m_served.size()];
    slot = text;
    return slot.c_str();
}

// ---- Main loop, GDK lock held; nothing may escape ----

void PanelWindow::setValue(const char* name, int value) {
    std::string which = name;
    if (which == "kill") {
        setStatus("closing on request");
        gtk_main_quit();
    } else if (which == "brightness") {
        m_applyingRemoteValue = true;
        gtk_range_set_value(GTK_RANGE(m_slider), value);
        m_applyingRemoteValue = false;
        // The slider keeps a value outside its range at its end: say what it shows.
        setStatus("brightness set to " + std::to_string(sliderValue()) + " remotely");
    }
}

void PanelWindow::setValue(const char* name, const char* value) {
    if (std::string(name) != "title" || value == nullptr) return;
    m_title = value;
    gchar* markup = g_markup_printf_escaped("<span size='x-large' weight='bold'>%s</span>", value);
    gtk_label_set_markup(GTK_LABEL(m_heading), markup);
    g_free(markup);
    if (m_window != nullptr) gtk_window_set_title(GTK_WINDOW(m_window), value);
    setStatus("title set");
}

void PanelWindow::setValue(const char*, ZumiHasharrayHandleStruct* value) {
    // A read of the write-only property arrives as a set without an array.
    if (value == nullptr) return;
    try {
        VimoZumiHashListArray playlist(m_handler, value);  // owns value from here on
        std::string text = std::to_string(playlist.length()) + " item(s)";
        for (int i = 0; i < playlist.length() && i < 4; ++i) {
            const char* entry = playlist[i].getString("name");
            text += i == 0 ? ": " : ", ";
            text += entry != nullptr ? entry : "?";
        }
        gtk_label_set_text(GTK_LABEL(m_playlistLabel), text.c_str());
        setStatus("playlist received");
    } catch (const std::exception& e) {
        setStatus(std::string("bad playlist: ") + e.what());
    }
}

void PanelWindow::showMemoryEvent(int kind) {
    std::string text = std::string(memoryKindName(kind)) + " (" + std::to_string(kind) + ")";
    gtk_label_set_text(GTK_LABEL(m_memoryLabel), text.c_str());
    setStatus("memory event: " + text);
}

void PanelWindow::showConfigUpdate(const std::list<std::string>& keys) {
    std::string text = std::to_string(keys.size()) + " key(s)";
    const char* separator = ": ";
    for (const std::string& key : keys) {
        text += separator + key;
        separator = ", ";
    }
    gtk_label_set_text(GTK_LABEL(m_configLabel), text.c_str());
    setStatus("configuration updated");
    // The new values live in the configuration service: read them without
    // blocking the window, each shown as it arrives.
    m_configText = text;
    m_configReads.erase(std::remove_if(m_configReads.begin(), m_configReads.end(),
                                       [](const veltra::kesh::zumi::ZumiPendingCall& read) {
                                           return !read.pending();
                                       }),
                        m_configReads.end());
    for (const std::string& key : keys) {
        m_configReads.push_back(veltra::kesh::zumi::ZumiAsync::getStringProperty(
            m_handler, ConfigListener::DC_UPDATE_EVENT_SOURCE, key.c_str(),
            [this, key](const veltra::kesh::zumi::ZumiResult<std::string>& value) {
                m_configText += "\n" + key + " = " + (value.ok() ? value.get() : "(unreadable)");
                gtk_label_set_text(GTK_LABEL(m_configLabel), m_configText.c_str());
            }));
    }
}

int PanelWindow::sliderValue() const {
    return static_cast<int>(std::lround(gtk_range_get_value(GTK_RANGE(m_slider))));
}

void PanelWindow::setStatus(const std::string& status) {
    m_status = status;
    gtk_label_set_text(GTK_LABEL(m_statusLabel), status.c_str());
}

void PanelWindow::onSliderMoved(GtkRange*, gpointer self) {
    PanelWindow* panel = static_cast<PanelWindow*>(self);
    if (panel->m_applyingRemoteValue) return;
    panel->setStatus("brightness moved to " + std::to_string(panel->sliderValue()));
}

gboolean PanelWindow::onDelete(GtkWidget*, GdkEvent*, gpointer) {
    gtk_main_quit();
    return TRUE;  // shutdown() destroys the window
}

}  // namespace panel
