/* libzumi's headers serve a C program: this is compiled as C99 with every
 * libzumi header and calls libzumi without a bus. */
#include <libzumi/ZumiBus.h>
#include <libzumi/ZumiPlatform.h>
#include <libzumi/ZumiTypes.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    int failures = 0;
    const char* text = ZumiGetErrorString(ZUMI_ERR_NO_SERVICE);
    if (strcmp(text, "No service owns that identifier") != 0) {
        printf("status 5 reads \"%s\"\n", text);
        ++failures;
    }
    if (ZumiHasharrayGetHashCount(NULL) >= 0 ||
        ZumiHasharrayPutInt(NULL, 0, "k", 1) != ZUMI_ERR_INVALID_ARRAY) {
        printf("a null hash array was not refused\n");
        ++failures;
    }
    if (APP_ID == NULL || (g_tessal_log_mask & ZUMI_LOG_MASK_E) == 0) {
        printf("the platform stand-ins are not in place\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
