// The component runtime: registration, class factories, creation by class
// identifier or name, and unloading of modules.
//
// Server side (inside a component's module): the module's four exports hand
// their calls, with the module's `ServerRegistration`, to RegisterServer,
// UnregisterServer, GetClassObject and CanUnloadNow. Objects of the module
// count themselves with ObjectCreated/ObjectDestroyed so that the module is
// unloaded only when nothing of it is in use.
//
// Client side (in a host): CLSIDFromProgID finds a class by its programmatic
// identifier, CoCreateInstance loads the class's module and creates an object
// through its class factory, CoFreeUnusedLibraries unloads modules that say
// they may go. Failures come back as statuses, with a description left as
// the thread's error information.

#ifndef VAVIZAR_PLATFORM_COM_RUNTIME_H_
#define VAVIZAR_PLATFORM_COM_RUNTIME_H_

#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace vz::com {

// Everything the runtime needs to know of one creatable class and its type
// library.
struct ServerRegistration {
  CLSID clsid;
  IID iid;             // the class's default interface
  GUID libid;          // its type library
  const char* progid;  // "Library.Class"
  const char* class_name;
  const char* interface_name;
  const char* library_name;
  const char* threading_model;  // "Apartment"
  int library_major;
  int library_minor;
  // Creates a new object and answers `riid` on it (one reference for the
  // caller).
  HRESULT (*create)(REFIID riid, void** object);
};

// The registry entries that registering `server` from the module at
// `module_path` writes. UnregisterServer removes exactly these.
std::vector<RegistryEntry> RegistrationEntries(const ServerRegistration& server,
                                               const std::string& module_path);

// The absolute path of the module that holds `address` (a function of it).
std::string ModulePathOf(const void* address);

HRESULT RegisterServer(const ServerRegistration& server, const std::string& module_path);
HRESULT UnregisterServer(const ServerRegistration& server, const std::string& module_path);
// A class factory for `server` when `rclsid` is its class, else
// CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObject(const ServerRegistration& server, REFCLSID rclsid, REFIID riid,
                       void** object);
// S_OK when no object and no factory lock of this module is outstanding,
// else S_FALSE.
HRESULT CanUnloadNow();

// Bookkeeping for CanUnloadNow, called by every object of the module.
void ObjectCreated();
void ObjectDestroyed();
long LiveObjectCount();

// The class registered under `progid`; REGDB_E_CLASSNOTREG when none is.
HRESULT CLSIDFromProgID(const char16_t* progid, CLSID* clsid);
// Loads the module registered for `clsid` (once) and creates an object
// through its class factory. REGDB_E_CLASSNOTREG when the class is not
// registered; E_FAIL when its module cannot be loaded or exports no
// DllGetClassObject; otherwise what the factory answers.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid, void** object);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
// Loads the module at `module_path`, calls its export `name` (a function of
// no arguments returning a status, such as DllRegisterServer) and unloads it.
// E_FAIL with a description when the module cannot be loaded or has no such
// export.
HRESULT CallModuleExport(const std::string& module_path, const char* name);
// Number of modules CoCreateInstance has loaded and not yet unloaded.
size_t LoadedModuleCount();

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_RUNTIME_H_
