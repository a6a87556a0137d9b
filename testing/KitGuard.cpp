// The test kit replaces both libbramwickzumi and libzumi in a test
// executable. Were either loaded beside it, the application's calls would
// reach one copy of the library and the fake the other, or a real bus: the
// test would pass or fail for reasons it cannot see. So it refuses to run.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

__attribute__((constructor)) void refuseTheRealLibraries() {
    for (const char* name : {"libbramwickzumi.so.1", "libzumi.so.1"}) {
        if (void* loaded = dlopen(name, RTLD_NOW | RTLD_NOLOAD)) {
            dlclose(loaded);
            std::fprintf(stderr,
                         "libbramwickzumi-testing: %s is loaded too; a test executable links "
                         "BramwickZumi::testing (or bramwickzumi-testing.pc) in place of "
                         "libbramwickzumi and libzumi, not beside them\n",
                         name);
            std::abort();
        }
    }
}

}  // namespace
