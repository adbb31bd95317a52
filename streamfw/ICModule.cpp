#include "streamfw/ICModule.h"

#include <atomic>

#include "core/ICUiThread.h"
#include "platform/dshow/DShowGuids.h"

namespace {

std::atomic<const void*> moduleHandle{nullptr};

RegPin Pin(const char16_t* name, bool output, std::vector<RegPinType> types) {
    RegPin pin;
    pin.name = name;
    pin.output = output;
    pin.mediaTypes = std::move(types);
    return pin;
}

}  // namespace

RegFilter ICModuleRegFilter(const ICModuleInfo& info) {
    RegFilter filter;
    filter.clsid = info.filterClsid;
    filter.name = info.filterName;
    filter.merit = kICModuleMerit;
    const RegPinType any{GUID_NULL, GUID_NULL};
    const RegPinType transport{MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT};
    const RegPinType driverTransport{MEDIATYPE_Stream, KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT};
    switch (info.pins) {
        case ICModulePins::kAnyInAnyOut:
            filter.pins = {Pin(u"In", false, {any}), Pin(u"Out", true, {any})};
            break;
        case ICModulePins::kTransportInOut:
            filter.pins = {Pin(u"In", false, {transport, driverTransport}),
                           Pin(u"Out", true, {transport})};
            break;
        case ICModulePins::kTransportOut:
            filter.pins = {Pin(u"Out", true, {transport})};
            break;
    }
    return filter;
}

void ICModuleAttach(const CFactoryTemplate* templates, int count, const void* moduleAddress) {
    moduleHandle.store(moduleAddress, std::memory_order_release);
    ICSetUiThreadId(ICGetCurrentThreadId());
    ComModuleAttach(templates, count);
}

const void* ICModuleGetHandle() {
    return moduleHandle.load(std::memory_order_acquire);
}
