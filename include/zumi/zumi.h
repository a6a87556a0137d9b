#ifndef ZUMI_ZUMI_H
#define ZUMI_ZUMI_H

// Everything an application needs from libbramwickzumi.

#include <zumi/ZumiException.h>
#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandler.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>
#include <zumi/ZumiPropertyPublisherUI.h>
#include <zumi/ZumiTypes.h>

#endif
