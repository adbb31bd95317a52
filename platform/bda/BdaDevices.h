#pragma once

#include <string>

#include "platform/dshow/DShowInterfaces.h"

// The broadcast-driver devices of this platform, as the system device enumerator lists them:
//
// - KSCATEGORY_BDA_NETWORK_TUNER: one tuner device per frontend of the DVB adapters present at
//   the moment of the enumeration. FriendlyName: the frontend's name as its driver gives it.
//   DevicePath: BdaTunerDevicePath. Description: the systems and the device, e.g.
//   "ISDB-T tuner, frontend 0 of DVB adapter 0".
// - KSCATEGORY_BDA_RECEIVER_COMPONENT: one capture device per adapter that has a dvr device.
//   FriendlyName: the name of the adapter's first frontend followed by " Capture" (the names to
//   write in the application's tuner list), DevicePath: BdaCaptureDevicePath, Description:
//   "Transport stream of DVB adapter N".
// - KSCATEGORY_BDA_NETWORK_PROVIDER: "Microsoft DVBT Network Provider" (CLSID_DVBTNetworkProvider).
// - KSCATEGORY_BDA_TRANSPORT_INFORMATION: the transport information filter, also creatable by
//   its class identifier {FC772AB0-0C7F-11D3-8FF2-00A0C9224CF4}.
//
// Binding a device's moniker creates its filter (BdaCreateTunerFilter, BdaCreateCaptureFilter).
// The class identifiers CLSID_DVBTNetworkProvider, CLSID_BDA_MPEG2TransportInformationFilter and
// CLSID_DVBTLocator are created by CoCreateInstance. Everything is registered when a program
// that links this library starts.

// Device paths have four parts separated by "#": "dvb", the adapter's folder, the adapter
// number and the device, e.g. "dvb#/dev/dvb/adapter0#0#frontend1" and
// "dvb#/dev/dvb/adapter0#0#dvr0" ("#" and "%" in the folder are written "%23" and "%25"). So
// the first three parts of a tuner's path name its adapter, and the capture device of the same
// adapter contains them.
std::u16string BdaTunerDevicePath(int adapter, int frontend);
std::u16string BdaCaptureDevicePath(int adapter);

// The filters of one frontend and of one adapter's dvr. The tuner filter opens its frontend at
// once (its failure is the result, a Windows error as HRESULT); the capture filter opens the dvr
// when it pauses.
HRESULT BdaCreateTunerFilter(int adapter, int frontend, IBaseFilter** filter);
HRESULT BdaCreateCaptureFilter(int adapter, IBaseFilter** filter);

// Registers the classes, entries and device providers above (done at start; calling it again
// does nothing).
HRESULT BdaRegisterBuiltins();
