#ifndef ZUMI_ZUMI_H
#define ZUMI_ZUMI_H

/// @file
/// Everything an application needs from libbramwickzumi.

#include <zumi/SystemEventListener.h>
#include <zumi/VimoDeviceRegistrationEventListener.h>
#include <zumi/VimoDynamicConfigUpdateEventListener.h>
#include <zumi/VimoMemoryEventListener.h>
#include <zumi/VimoUserStoreEventListener.h>
#include <zumi/VimoZumiHashListArray.h>
#include <zumi/ZumiAsync.h>
#include <zumi/ZumiEventQueue.h>
#include <zumi/ZumiEventUtils.h>
#include <zumi/ZumiException.h>
#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandler.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashList.h>
#include <zumi/ZumiHashListArray.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>
#include <zumi/ZumiPropertyPublisherUI.h>
#include <zumi/ZumiTypes.h>

#endif
