// A module file that registers a class but lacks DllGetClassObject.
#include "platform/com/ComponentRegistry.h"
#include "platform/com/tests/ComTestModule.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    return ComponentRegistry::RegisterModuleClass(CLSID_ComTestCounter, u"Entryless counter");
}
