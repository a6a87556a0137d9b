#ifndef ZUMI_TESTING_FAKEHANDLES_H
#define ZUMI_TESTING_FAKEHANDLES_H

// The double's connection and event objects behind the opaque handles.

#include <string>

#include "FakeBusCore.h"

struct ZumiHandleStruct {
    std::string id;
};

struct ZumiEventHandleStruct {
    zumi::testing::FakeEvent* event;
};

#endif
