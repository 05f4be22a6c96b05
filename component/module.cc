// The module's exports, as a component host looks them up. Each hands its
// call, with the component's registration data, to the component runtime.

#include "component/registration.h"

using vz::com::HRESULT;

namespace {

std::string ThisModule() {
  return vz::com::ModulePathOf(reinterpret_cast<const void*>(&ThisModule));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  return vz::com::RegisterServer(vz::PageRegistration(), ThisModule());
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  return vz::com::UnregisterServer(vz::PageRegistration(), ThisModule());
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(vz::com::REFCLSID rclsid,
                                                                 vz::com::REFIID riid,
                                                                 void** object) {
  return vz::com::GetClassObject(vz::PageRegistration(), rclsid, riid, object);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return vz::com::CanUnloadNow(); }

}  // extern "C"
