#include "platform/com/runtime.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <new>

#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/com/ref.h"

namespace vz::com {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The standard marshaller of automation interfaces, as dual interfaces name it.
constexpr const char* kAutomationMarshaller = "{00020424-0000-0000-C000-000000000046}";

class ClassFactory final : public Object<IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(const ServerRegistration& server) : server_(server) { ObjectCreated(); }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return server_.create(riid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      g_locks.fetch_add(1);
    } else {
      g_locks.fetch_sub(1);
    }
    return S_OK;
  }

 private:
  ~ClassFactory() { ObjectDestroyed(); }

  const ServerRegistration& server_;
};

std::string Version(const ServerRegistration& s) {
  return std::to_string(s.library_major) + "." + std::to_string(s.library_minor);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

HRESULT Fail(HRESULT hr, const std::string& what) {
  SetErrorInfo(FromUtf8(what));
  return hr;
}

// Modules loaded by CoCreateInstance, by path.
struct LoadedModule {
  std::string path;
  void* handle;
};

std::recursive_mutex& ModulesMutex() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

std::vector<LoadedModule>& Modules() {
  static auto* modules = new std::vector<LoadedModule>;
  return *modules;
}

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const ServerRegistration& s,
                                               const std::string& module_path) {
  const std::string clsid = "CLSID\\" + GuidText(s.clsid);
  const std::string iid = "Interface\\" + GuidText(s.iid);
  const std::string libid = GuidText(s.libid);
  const std::string version = Version(s);
  const std::string lib = "TypeLib\\" + libid + "\\" + version;
  return {
      {clsid, "@", s.progid},
      {clsid + "\\InprocServer32", "@", module_path},
      {clsid + "\\InprocServer32", "ThreadingModel", s.threading_model},
      {clsid + "\\ProgID", "@", s.progid},
      {clsid + "\\TypeLib", "@", libid},
      {clsid + "\\VERSION", "@", version},
      {s.progid, "@", s.progid},
      {std::string(s.progid) + "\\CLSID", "@", GuidText(s.clsid)},
      {iid, "@", s.interface_name},
      {iid + "\\ProxyStubClsid32", "@", kAutomationMarshaller},
      {iid + "\\TypeLib", "@", libid},
      {iid + "\\TypeLib", "Version", version},
      {lib, "@", s.library_name},
      {lib + "\\0\\linux64", "@", module_path},
      {lib + "\\FLAGS", "@", "0"},
      {lib + "\\HELPDIR", "@", FolderOf(module_path)},
  };
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::string();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return info.dli_fname;
  return resolved;
}

HRESULT RegisterServer(const ServerRegistration& server, const std::string& module_path) {
  if (module_path.empty() || module_path[0] != '/') {
    return Fail(E_FAIL, "the module's path is unknown or not absolute: '" + module_path + "'");
  }
  return WriteRegistry(RegistrationEntries(server, module_path));
}

HRESULT UnregisterServer(const ServerRegistration& server, const std::string& module_path) {
  return EraseRegistry(RegistrationEntries(server, module_path));
}

HRESULT GetClassObject(const ServerRegistration& server, REFCLSID rclsid, REFIID riid,
                       void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!(rclsid == server.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  Ref<ClassFactory> factory(new (std::nothrow) ClassFactory(server));
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(riid, object);
}

HRESULT CanUnloadNow() { return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE; }

void ObjectCreated() { g_objects.fetch_add(1); }
void ObjectDestroyed() { g_objects.fetch_sub(1); }
long LiveObjectCount() { return g_objects.load(); }

HRESULT CLSIDFromProgID(const char16_t* progid, CLSID* clsid) {
  if (progid == nullptr || clsid == nullptr) return E_INVALIDARG;
  const std::string name = ToUtf8(progid);
  std::optional<std::string> text = ReadRegistry(name + "\\CLSID");
  std::optional<GUID> parsed = text ? ParseGuid(*text) : std::nullopt;
  if (!parsed) {
    return Fail(REGDB_E_CLASSNOTREG,
                "class '" + name + "' is not registered (registry " + RegistryPath() + ")");
  }
  *clsid = *parsed;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  std::optional<std::string> path = ReadRegistry("CLSID\\" + GuidText(clsid) + "\\InprocServer32");
  if (!path || path->empty()) {
    return Fail(REGDB_E_CLASSNOTREG, "class " + GuidText(clsid) + " is not registered (registry " +
                                         RegistryPath() + ")");
  }
  std::lock_guard<std::recursive_mutex> lock(ModulesMutex());
  void* handle = nullptr;
  for (const LoadedModule& m : Modules()) {
    if (m.path == *path) handle = m.handle;
  }
  if (handle == nullptr) {
    handle = dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      return Fail(E_FAIL, "cannot load " + *path + ": " + (why != nullptr ? why : "unknown error"));
    }
    Modules().push_back({*path, handle});
  }
  auto get_class_object = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  if (get_class_object == nullptr) return Fail(E_FAIL, *path + " exports no DllGetClassObject");
  IClassFactory* factory = nullptr;
  HRESULT hr = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::recursive_mutex> lock(ModulesMutex());
  std::vector<LoadedModule>& modules = Modules();
  for (size_t i = 0; i < modules.size();) {
    auto can_unload = reinterpret_cast<CanUnloadNowFn>(dlsym(modules[i].handle, "DllCanUnloadNow"));
    if (can_unload != nullptr && can_unload() == S_OK) {
      dlclose(modules[i].handle);
      modules.erase(modules.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

HRESULT CallModuleExport(const std::string& module_path, const char* name) {
  void* handle = dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    return Fail(E_FAIL,
                "cannot load " + module_path + ": " + (why != nullptr ? why : "unknown error"));
  }
  auto entry = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, name));
  HRESULT hr = entry != nullptr ? entry() : Fail(E_FAIL, module_path + " exports no " + name);
  dlclose(handle);
  return hr;
}

size_t LoadedModuleCount() {
  std::lock_guard<std::recursive_mutex> lock(ModulesMutex());
  return Modules().size();
}

}  // namespace vz::com
