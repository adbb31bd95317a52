// A module file without DllGetClassObject: it registers a class that it cannot create.
#include "platform/com/ComponentRegistry.h"
#include "platform/com/ModuleExports.h"
#include "streamfw/tests/StreamTestModule.h"

HRESULT DllRegisterServer() {
    return ComponentRegistry::RegisterModuleClass(CLSID_StreamTestNoFactory, u"No factory");
}
