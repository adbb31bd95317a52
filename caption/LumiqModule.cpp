// The module file Lumiq.ax: the caption filter and its version page.
#include "caption/ICQVCaption.h"
#include "streamfw/ICModule.h"

ORV_STREAM_MODULE(kICModuleCaption, ICQVCaption::CreateInstance, &IID_IQVCaption)
