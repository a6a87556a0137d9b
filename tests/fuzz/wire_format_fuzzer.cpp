// Feeds arbitrary bytes to the decoders of everything a peer can send: hash
// arrays and event parameters. Whatever decodes must survive a round trip.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::EventParams;
using zumi::bus::HashArray;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool event = (data[0] & 1) != 0;
    ++data;
    --size;
    std::vector<uint8_t> again;
    if (event) {
        EventParams params;
        if (zumi::bus::decodeEventParams(data, size, &params) != ZUMI_OK) return 0;
        std::vector<const char*> texts;
        for (const auto& text : params.texts) texts.push_back(text.c_str());
        if (zumi::bus::encodeEventParams(params.ints.data(), params.ints.size(), texts.data(),
                                         texts.size(), &again) != ZUMI_OK) {
            abort();
        }
        EventParams second;
        if (zumi::bus::decodeEventParams(again.data(), again.size(), &second) != ZUMI_OK ||
            second.ints != params.ints || second.texts != params.texts) {
            abort();
        }
    } else {
        HashArray array;
        if (zumi::bus::decodeHashArray(data, size, &array) != ZUMI_OK) return 0;
        HashArray second;
        if (zumi::bus::encodeHashArray(array, &again) != ZUMI_OK ||
            zumi::bus::decodeHashArray(again.data(), again.size(), &second) != ZUMI_OK ||
            second.hashes != array.hashes) {
            abort();
        }
    }
    return 0;
}
