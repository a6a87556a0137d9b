// Stand-ins for the symbols that the device's platform provides to every
// application (declared in libzumi/ZumiPlatform.h). They live in libzumi, not in
// libbramwickzumi, so that on the device the platform's own take their place.

#include <errno.h>
#include <stdlib.h>

#include <libzumi/ZumiPlatform.h>

namespace {

// E and W lines unless ZUMI_LOG_MASK (0x-prefixed hexadecimal or decimal) says
// otherwise; a value that does not parse whole is ignored.
unsigned int initialLogMask() {
    const unsigned int fallback = ZUMI_LOG_MASK_E | ZUMI_LOG_MASK_W;
    const char* text = getenv("ZUMI_LOG_MASK");
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    errno = 0;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long value = strtoul(hex ? text + 2 : text, &end, hex ? 16 : 10);
    if (errno != 0 || end == text || (hex && end == text + 2) || *text == '-' || *end != '\0' || value > 0xffffffffUL) {
        return fallback;
    }
    return static_cast<unsigned int>(value);
}

}  // namespace

extern "C" {

unsigned int g_tessal_log_mask = initialLogMask();

// Weak, so that an application's own definition wins; left null here and set
// to the program's name at load, unless the application set it.
__attribute__((weak)) const char* APP_ID = nullptr;
}

namespace {
__attribute__((constructor)) void defaultAppId() {
    if (APP_ID == nullptr) {
        APP_ID = program_invocation_short_name;
    }
}
}  // namespace
