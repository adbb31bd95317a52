// The module file Tunova.ax: the tuner-driver source and its version page.
#include "sources/ICQVBonSource.h"
#include "streamfw/ICModule.h"

ORV_STREAM_MODULE(kICModuleBonSource, ICQVBonSource::CreateInstance, &IID_IQVBonSource)
