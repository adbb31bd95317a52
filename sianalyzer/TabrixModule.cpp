// The module file Tabrix.ax: the SI analyzer filter and its version page.
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "streamfw/ICModule.h"

ORV_STREAM_MODULE(kICModuleSIAnalyzer, ICQVSIAnalyzer::CreateInstance, &IID_IQVSIAnalyzer)
