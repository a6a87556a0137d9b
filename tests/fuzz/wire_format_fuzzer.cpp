// Builds a D-Bus message from arbitrary bytes, shaped mostly as a peer's hash
// array or event parameters would be and sometimes not (values of other
// types, duplicate keys, texts that are not UTF-8, another signature), and
// feeds it to the readers of everything a peer can send. Whatever reads must
// be sendable as it is and survive a round trip.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "WireMessages.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::EventParams;
using zumi::bus::HashArray;

namespace {

// Hands the fuzzer's bytes out; zeros once they run out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_pos < m_size; }
    uint8_t byte() { return more() ? m_data[m_pos++] : 0; }
    int32_t number() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return static_cast<int32_t>(value);
    }
    // A short text, or a long one of a repeated byte when the length byte says so.
    std::string text() {
        const uint8_t length = byte();
        if (length == 0xff) return std::string(static_cast<size_t>(byte()) << 14, static_cast<char>(byte()));
        std::string out;
        for (uint8_t i = 0; i < length && more(); ++i) out += static_cast<char>(byte());
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// One {sv} entry; the value's type from the input (i, s, or something else).
int appendEntry(sd_bus_message* m, Input& in) {
    const std::string key = in.text();
    switch (in.byte() % 5) {
        case 0: return sd_bus_message_append(m, "{sv}", key.c_str(), "s", in.text().c_str());
        case 1: return sd_bus_message_append(m, "{sv}", key.c_str(), "u", static_cast<uint32_t>(in.number()));
        case 2: return sd_bus_message_append(m, "{sv}", key.c_str(), "as", 1, in.text().c_str());
        default: return sd_bus_message_append(m, "{sv}", key.c_str(), "i", in.number());
    }
}

int appendHashArray(sd_bus_message* m, Input& in) {
    int r = sd_bus_message_open_container(m, 'a', "a{sv}");
    while (r >= 0 && in.more()) {
        r = sd_bus_message_open_container(m, 'a', "{sv}");
        for (uint8_t entries = in.byte() % 8; r >= 0 && entries > 0; --entries) r = appendEntry(m, in);
        if (r >= 0) r = sd_bus_message_close_container(m);
    }
    return r < 0 ? r : sd_bus_message_close_container(m);
}

int appendEventParams(sd_bus_message* m, Input& in) {
    std::vector<int32_t> ints(in.byte() % 16);
    for (int32_t& value : ints) value = in.number();
    int r = sd_bus_message_append_array(m, 'i', ints.data(), ints.size() * sizeof(int32_t));
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
    while (r >= 0 && in.more()) r = sd_bus_message_append_basic(m, 's', in.text().c_str());
    return r < 0 ? r : sd_bus_message_close_container(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static WireMessages kit;
    Input in(data, size);
    const uint8_t shape = in.byte();
    const bool event = (shape & 1) != 0;
    sd_bus_message* message = kit.make();
    if (message == nullptr) abort();
    int r = event ? appendEventParams(message, in) : appendHashArray(message, in);
    // Now and then a message of another shape: the wrong part for the reader.
    if (r >= 0 && (shape & 2) != 0) r = event ? appendHashArray(message, in) : appendEventParams(message, in);
    if (r < 0 || !WireMessages::seal(message)) {  // not UTF-8, say: nothing a peer could send
        sd_bus_message_unref(message);
        return 0;
    }
    sd_bus_message* again = kit.make();
    if (again == nullptr) abort();
    if (event) {
        EventParams params;
        if (zumi::bus::readEventParams(message, &params) == ZUMI_OK) {
            std::vector<const char*> texts;
            for (const auto& text : params.texts) texts.push_back(text.c_str());
            const zumi::bus::EventParamsView view = {params.ints.data(), params.ints.size(), texts.data(),
                                                     texts.size()};
            EventParams second;
            if (zumi::bus::checkEventParams(view) != ZUMI_OK ||
                zumi::bus::appendEventParams(again, view) < 0 || !WireMessages::seal(again) ||
                zumi::bus::readEventParams(again, &second) != ZUMI_OK || second.ints != params.ints ||
                second.texts != params.texts) {
                abort();
            }
        }
    } else {
        HashArray array;
        if (zumi::bus::readHashArray(message, &array) == ZUMI_OK) {
            HashArray second;
            if (zumi::bus::checkHashArray(array) != ZUMI_OK || zumi::bus::appendHashArray(again, array) < 0 ||
                !WireMessages::seal(again) || zumi::bus::readHashArray(again, &second) != ZUMI_OK ||
                second.hashes != array.hashes) {
                abort();
            }
        }
    }
    sd_bus_message_unref(again);
    sd_bus_message_unref(message);
    return 0;
}
