// The module file Streva.ax: the transport-stream source and its version page.
#include "sources/ICQVTSSource.h"
#include "streamfw/ICModule.h"

ORV_STREAM_MODULE(kICModuleTSSource, ICQVTSSource::CreateInstance, &IID_IQVTSSource)
