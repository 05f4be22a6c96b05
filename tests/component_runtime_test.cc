// Registration, creation by name and unloading, through the component's real
// module and a private registry file.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "component/page_interface.h"
#include "component/registration.h"
#include "platform/com/error_info.h"
#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "tests/store_fixture.h"

namespace vz::com {
namespace {

namespace fs = std::filesystem;

// Points the runtime at a registry file of the test's own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("vz-registry-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "registry.txt").string();
    setenv("VAVIZAR_COM_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VAVIZAR_COM_REGISTRY");
    fs::remove_all(folder_);
    ClearErrorInfo();
  }

  fs::path folder_;
  std::string path_;
};

using Fn = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// The module loaded as a host loads it.
class Module {
 public:
  Module() : handle_(dlopen(VZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~Module() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  void* Symbol(const char* name) const { return dlsym(handle_, name); }
  HRESULT Call(const char* name) const { return reinterpret_cast<Fn>(Symbol(name))(); }
  bool loaded() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

TEST(ComponentModule, ExportsTheFourEntryPointsOnly) {
  Module module;
  ASSERT_TRUE(module.loaded()) << dlerror();
  for (const char* name :
       {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"}) {
    EXPECT_NE(module.Symbol(name), nullptr) << name;
  }
  EXPECT_EQ(module.Symbol("_ZN2vz4Page6CreateEv"), nullptr);
  EXPECT_EQ(module.Symbol("_ZN2vz6InStrEiSt17basic_string_viewIDsSt11char_traitsIDsEES3_"),
            nullptr);
}

TEST_F(RegistryTest, RegisterCreateByNameAndUnregister) {
  WriteRegistry({{"Other.Class\\CLSID", "@", "{00000000-0000-0000-0000-000000000001}"}});
  const std::string before = testing::ReadBytes(path_);

  Module module;
  ASSERT_TRUE(module.loaded()) << dlerror();
  ASSERT_EQ(module.Call("DllRegisterServer"), S_OK);
  const std::string clsid = GuidText(CLSID_Page);
  EXPECT_EQ(ReadRegistry("CLSID\\" + clsid + "\\InprocServer32"),
            fs::canonical(VZ_MODULE_PATH).string());
  EXPECT_EQ(ReadRegistry("CLSID\\" + clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadRegistry("CLSID\\" + clsid + "\\ProgID"), "Vantrel_VaviZar.Page");
  EXPECT_EQ(ReadRegistry("Interface\\" + GuidText(IID__Page)), "_Page");
  EXPECT_EQ(ReadRegistry("TypeLib\\" + GuidText(LIBID_Vantrel_VaviZar) + "\\9.0"),
            "Vantrel_VaviZar");
  EXPECT_EQ(ReadRegistry("Other.Class\\CLSID"), "{00000000-0000-0000-0000-000000000001}");

  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"Vantrel_VaviZar.Page", &found), S_OK);
  EXPECT_TRUE(found == CLSID_Page);

  IDispatch* page = nullptr;
  ASSERT_EQ(CoCreateInstance(found, nullptr, IID_IDispatch, reinterpret_cast<void**>(&page)), S_OK);
  EXPECT_EQ(LoadedModuleCount(), 1u);
  // Late bound, by name and identifier, as a script host does.
  OLECHAR* names[] = {const_cast<OLECHAR*>(u"TempletRoot")};
  DISPID id = 0;
  ASSERT_EQ(page->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  VARIANT root;
  VariantInit(&root);
  root.vt = VT_BSTR;
  root.bstrVal = SysAllocString(u"site");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&root, &put, 1, 1};
  EXPECT_EQ(page->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
            S_OK);
  VariantClear(&root);
  VARIANT errors;
  VariantInit(&errors);
  EXPECT_EQ(page->Invoke(kDispIdErrors, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &errors,
                         nullptr, nullptr),
            S_OK);
  EXPECT_EQ(errors.vt, VT_BSTR);
  VariantClear(&errors);

  // The module stays while its object lives.
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedModuleCount(), 1u);
  EXPECT_EQ(page->Release(), 0u);
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedModuleCount(), 0u);

  ASSERT_EQ(module.Call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(testing::ReadBytes(path_), before);
  EXPECT_EQ(CLSIDFromProgID(u"Vantrel_VaviZar.Page", &found), REGDB_E_CLASSNOTREG);
  EXPECT_NE(ToUtf8(TakeErrorInfo()).find("'Vantrel_VaviZar.Page' is not registered"),
            std::string::npos);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_Page, nullptr, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
}

TEST_F(RegistryTest, ModuleThatCannotBeLoadedIsAClearFailure) {
  const CLSID clsid{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  WriteRegistry({{"CLSID\\" + GuidText(clsid) + "\\InprocServer32", "@", path_ + ".missing.so"}});
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, IID_IUnknown, &object), E_FAIL);
  EXPECT_NE(ToUtf8(TakeErrorInfo()).find("cannot load"), std::string::npos);
  EXPECT_EQ(object, nullptr);
}

TEST(ComponentModule, CanUnloadNowAnswersFromObjectsAndLocks) {
  Module module;
  ASSERT_TRUE(module.loaded());
  auto get_class_object = reinterpret_cast<GetClassObjectFn>(module.Symbol("DllGetClassObject"));
  EXPECT_EQ(module.Call("DllCanUnloadNow"), S_OK);

  IClassFactory* factory = nullptr;
  const CLSID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(get_class_object(other, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
  ASSERT_EQ(get_class_object(CLSID_Page, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(module.Call("DllCanUnloadNow"), S_FALSE) << "a factory in use";

  IUnknown* outer = factory;
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);

  _Page* page = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__Page, reinterpret_cast<void**>(&page)), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(module.Call("DllCanUnloadNow"), S_FALSE) << "an object and a lock";
  EXPECT_EQ(page->Release(), 0u);
  EXPECT_EQ(module.Call("DllCanUnloadNow"), S_FALSE) << "a lock";

  ASSERT_EQ(get_class_object(CLSID_Page, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(0);
  factory->Release();
  EXPECT_EQ(module.Call("DllCanUnloadNow"), S_OK);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 3;
  constexpr int kEach = 40;
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      for (int i = 0; i < kEach; ++i) {
        std::string key = "Writer" + std::to_string(w) + "\\Item" + std::to_string(i);
        if (WriteRegistry({{key, "@", std::to_string(i)}}) != S_OK) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::optional<RegistryHive> hive = ParseHive(testing::ReadBytes(path_));
  ASSERT_TRUE(hive.has_value());
  EXPECT_EQ(hive->size(), static_cast<size_t>(kWriters * kEach));
  EXPECT_FALSE(fs::exists(path_ + ".tmp." + std::to_string(getpid())));
}

TEST_F(RegistryTest, DamagedFileIsLeftAloneAndBadEntriesAreRefused) {
  { std::ofstream(path_) << "name=value before any key\n"; }
  EXPECT_EQ(WriteRegistry({{"Key", "@", "v"}}), E_FAIL);
  EXPECT_NE(ToUtf8(TakeErrorInfo()).find("is damaged"), std::string::npos);
  EXPECT_EQ(testing::ReadBytes(path_), "name=value before any key\n");
  EXPECT_EQ(ReadRegistry("Key"), std::nullopt);

  fs::remove(path_);
  EXPECT_EQ(WriteRegistry({{"Key\nX", "@", "v"}}), E_INVALIDARG);
  EXPECT_EQ(WriteRegistry({{"Key", "a=b", "v"}}), E_INVALIDARG);
  EXPECT_EQ(WriteRegistry({{"Key", "@", "two\nlines"}}), E_INVALIDARG);
  EXPECT_EQ(WriteRegistry({{"", "@", "v"}}), E_INVALIDARG);
  EXPECT_FALSE(fs::exists(path_));
}

TEST(RegistryHive, TextRoundTrip) {
  RegistryHive hive;
  hive["CLSID\\{X}"]["@"] = "Page";
  hive["CLSID\\{X}\\InprocServer32"]["@"] = "/lib/a=b.so";
  hive["CLSID\\{X}\\InprocServer32"]["ThreadingModel"] = "Apartment";
  hive["Empty"]["@"] = "";
  std::optional<RegistryHive> back = ParseHive(HiveText(hive));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, hive);
  EXPECT_FALSE(ParseHive("[unterminated\n").has_value());
  EXPECT_FALSE(ParseHive("[Key]\nno equals sign\n").has_value());
  EXPECT_FALSE(ParseHive("[Key]\n=value\n").has_value());
}

TEST(RegistryPath, EnvironmentDecides) {
  setenv("VAVIZAR_COM_REGISTRY", "/x/reg.txt", 1);
  EXPECT_EQ(RegistryPath(), "/x/reg.txt");
  unsetenv("VAVIZAR_COM_REGISTRY");
  const char* old_data = std::getenv("XDG_DATA_HOME");
  std::string saved = old_data != nullptr ? old_data : "";
  setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(RegistryPath(), "/data/vavizar/registry.txt");
  unsetenv("XDG_DATA_HOME");
  EXPECT_NE(RegistryPath().find("/.local/share/vavizar/registry.txt"), std::string::npos);
  if (old_data != nullptr) setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST(Registration, DataOfTheComponent) {
  const ServerRegistration& page = PageRegistration();
  EXPECT_STREQ(page.progid, "Vantrel_VaviZar.Page");
  EXPECT_STREQ(page.threading_model, "Apartment");
  EXPECT_EQ(page.library_major, 9);
  EXPECT_EQ(page.library_minor, 0);
  const VersionData& version = ComponentVersion();
  EXPECT_STREQ(version.file_version_text, "1.00");
  EXPECT_EQ(version.language, 0x0804);
  EXPECT_EQ(version.code_page, 1200);
  EXPECT_TRUE(version.self_registering);
  EXPECT_STREQ(TypeLibraryReferences()[0].name, "stdole");
  EXPECT_EQ(TypeLibraryReferences()[1].minor, 7);
  std::vector<RegistryEntry> entries = RegistrationEntries(page, "/m/Vantrel_VaviZar.so");
  EXPECT_EQ(entries.size(), 16u);
  EXPECT_EQ(RegisterServer(page, "relative.so"), E_FAIL);
  ClearErrorInfo();
}

}  // namespace
}  // namespace vz::com
