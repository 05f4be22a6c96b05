// The member table of _Page: one entry per published member, read by
// GetIDsOfNames and Invoke (and by registration, which describes the same
// members).

#ifndef VAVIZAR_COMPONENT_PAGE_MEMBERS_H_
#define VAVIZAR_COMPONENT_PAGE_MEMBERS_H_

#include <span>

#include "component/page_interface.h"
#include "platform/com/typeinfo.h"

namespace vz {

// One call through the dispatch interface, its arguments in declaration order
// and already reduced to plain (not by-reference) values.
struct PageInvocation {
  const com::VARIANT* args[2] = {};
  com::UINT arg_count = 0;
  com::VARIANT* result = nullptr;  // may be null: the caller wants no result
  com::UINT* arg_err = nullptr;
  com::EXCEPINFO* excep_info = nullptr;
};

struct PageMember {
  // Identifier, name, kind (INVOKE_PROPERTYPUTREF, INVOKE_PROPERTYGET,
  // INVOKE_PROPERTYPUT or INVOKE_FUNC), result and parameters, as the type
  // library describes them. A property's single parameter is unnamed.
  com::MemberDescription description;
  // Converts the arguments, calls the member through the interface and
  // stores its result.
  com::HRESULT (*call)(_Page& page, PageInvocation& call);
};

// The five members, in the order of the interface.
std::span<const PageMember> PageMembers();

// The interface as its type library describes it, read from the table.
const com::InterfaceDescription& PageInterfaceDescription();

// IDispatch::GetIDsOfNames over the table: names[0] is a member, the rest its
// parameters; case-insensitive. DISP_E_UNKNOWNNAME (and DISPID_UNKNOWN in the
// slots of the unknown names) when any name is unknown.
com::HRESULT PageIDsOfNames(com::OLECHAR** names, com::UINT count, com::DISPID* dispids);

// IDispatch::Invoke over the table.
com::HRESULT InvokePageMember(_Page& page, com::DISPID dispid, com::WORD flags,
                              com::DISPPARAMS* params, com::VARIANT* result,
                              com::EXCEPINFO* excep_info, com::UINT* arg_err);

}  // namespace vz

#endif  // VAVIZAR_COMPONENT_PAGE_MEMBERS_H_
