// A program built against an installed tree: it uses the C++ API of
// libbramwickzumi and the C contract of libzumi, and needs no bus to run.

#include <cstdio>
#include <stdexcept>

#include <libzumi/ZumiBus.h>
#include <zumi/zumi.h>

using veltra::kesh::zumi::ZumiException;
using veltra::kesh::zumi::ZumiHandlerFactory;

int main() {
    try {
        ZumiHandlerFactory::getZumiHandler(nullptr);
    } catch (const std::invalid_argument&) {
        std::printf("factory: refuses a null identifier\n");
    }
    try {
        throw ZumiException("thrown across the library boundary");
    } catch (const std::runtime_error& e) {
        std::printf("exception: %s\n", e.what());
    }
    std::printf("status 5: %s\n", ZumiGetErrorString(ZUMI_ERR_NO_SERVICE));
    return 0;
}
