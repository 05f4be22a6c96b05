// _Page: the published interface of the component's one class.
//
// A dual interface: the three IUnknown and four IDispatch slots, then the five
// members below in this order. Every member returns a status code and hands a
// result, where it has one, through its last parameter, which it sets to
// empty (null) before anything else.

#ifndef VAVIZAR_COMPONENT_PAGE_INTERFACE_H_
#define VAVIZAR_COMPONENT_PAGE_INTERFACE_H_

#include "platform/ado/connection.h"
#include "platform/com/unknown.h"

namespace vz {

class _Page : public com::IDispatch {
 public:
  // Connection (set by reference): holds one reference to *Conn, or none.
  virtual com::HRESULT putref_Connection(ado::Connection** Conn) = 0;
  // Errors (get): a copy of the error log.
  virtual com::HRESULT get_Errors(com::BSTR* result) = 0;
  // TempletRoot (let): the template folder; *Root is not changed.
  virtual com::HRESULT put_TempletRoot(com::BSTR* Root) = 0;
  // The server-page code of one page.
  virtual com::HRESULT CreateAspCode(com::BSTR TempletSetID, com::BSTR PageID,
                                     com::BSTR* result) = 0;
  // The same page as script statements.
  virtual com::HRESULT CreateExecuteCode(com::BSTR TempletSetID, com::BSTR PageID,
                                         com::BSTR* result) = 0;

 protected:
  ~_Page() = default;
};

// {EE308821-391C-4A03-8780-F3FB0D93BEEB}
inline constexpr com::IID IID__Page{
    0xee308821, 0x391c, 0x4a03, {0x87, 0x80, 0xf3, 0xfb, 0x0d, 0x93, 0xbe, 0xeb}};
// {1B8C57CE-7C1D-4C30-B37E-0DB677E4EFE3}
inline constexpr com::CLSID CLSID_Page{
    0x1b8c57ce, 0x7c1d, 0x4c30, {0xb3, 0x7e, 0x0d, 0xb6, 0x77, 0xe4, 0xef, 0xe3}};

// Dispatch identifiers of the five members.
inline constexpr com::DISPID kDispIdTempletRoot = 0x68030000;
inline constexpr com::DISPID kDispIdErrors = 0x68030001;
inline constexpr com::DISPID kDispIdConnection = 0x68030002;
inline constexpr com::DISPID kDispIdCreateAspCode = 0x60030006;
inline constexpr com::DISPID kDispIdCreateExecuteCode = 0x60030007;

}  // namespace vz

#endif  // VAVIZAR_COMPONENT_PAGE_INTERFACE_H_
