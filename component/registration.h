// The component's identity: what registration writes and what the module's
// exports hand to the component runtime.
//
//   module          Vantrel_VaviZar.so (Vantrel_VaviZar.dll where the
//                   component was first built)
//   class           Page, programmatic identifier "Vantrel_VaviZar.Page",
//                   threading model Apartment
//   interface       _Page, dual, hidden, non-extensible, automation
//   type library    Vantrel_VaviZar 9.0, locale neutral; refers to OLE
//                   Automation 2.0 and the data-access library 2.7
//   version data    1.0.0.0 ("1.00"), language Chinese (PRC) 0x0804 with code
//                   page 1200, self-registering

#ifndef VAVIZAR_COMPONENT_REGISTRATION_H_
#define VAVIZAR_COMPONENT_REGISTRATION_H_

#include <cstdint>

#include "platform/com/runtime.h"

namespace vz {

// {D9B94100-E0E7-4139-8BCC-C73A13CAA122}
inline constexpr com::GUID LIBID_Vantrel_VaviZar{
    0xd9b94100, 0xe0e7, 0x4139, {0x8b, 0xcc, 0xc7, 0x3a, 0x13, 0xca, 0xa1, 0x22}};

// A type library that this one refers to.
struct LibraryReference {
  com::GUID libid;
  const char* name;
  int major;
  int minor;
  const char* file;
};

// The module's version resource.
struct VersionData {
  uint16_t file_version[4];
  uint16_t product_version[4];
  const char* file_version_text;
  const char* product_version_text;
  const char* product_name;
  const char* internal_name;
  const char* original_file_name;
  uint16_t language;   // 0x0804, Chinese (PRC)
  uint16_t code_page;  // 1200, Unicode
  bool self_registering;
};

// The registration data of the class Page.
const com::ServerRegistration& PageRegistration();
// The two libraries the type library refers to, in order.
const LibraryReference (&TypeLibraryReferences())[2];
const VersionData& ComponentVersion();

}  // namespace vz

#endif  // VAVIZAR_COMPONENT_REGISTRATION_H_
