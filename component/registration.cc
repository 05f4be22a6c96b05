#include "component/registration.h"

#include "component/page.h"

namespace vz {
namespace {

com::HRESULT CreatePage(com::REFIID riid, void** object) {
  Page* page = Page::Create();
  if (page == nullptr) return com::E_OUTOFMEMORY;
  com::HRESULT hr = page->QueryInterface(riid, object);
  page->Release();
  return hr;
}

const com::ServerRegistration kPage{
    CLSID_Page,
    IID__Page,
    LIBID_Vantrel_VaviZar,
    "Vantrel_VaviZar.Page",
    "Page",
    "_Page",
    "Vantrel_VaviZar",
    "Apartment",
    9,
    0,
    CreatePage,
};

const LibraryReference kReferences[2] = {
    // OLE Automation, for IDispatch.
    {{0x00020430, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, "stdole", 2, 0, "stdole2.tlb"},
    // The data-access library, for the connection.
    {{0xEF53050B, 0x882E, 0x4776, {0xB6, 0x43, 0xED, 0xA4, 0x72, 0xE8, 0xE3, 0xF2}},
     "ADODB",
     2,
     7,
     "msado15.dll"},
};

const VersionData kVersion{
    {1, 0, 0, 0},      {1, 0, 0, 0},          "1.00", "1.00", "Vantrel_VaviZar",
    "Vantrel_VaviZar", "Vantrel_VaviZar.dll", 0x0804, 1200,   true,
};

}  // namespace

const com::ServerRegistration& PageRegistration() { return kPage; }
const LibraryReference (&TypeLibraryReferences())[2] { return kReferences; }
const VersionData& ComponentVersion() { return kVersion; }

}  // namespace vz
