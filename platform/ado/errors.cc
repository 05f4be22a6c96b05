#include "platform/ado/errors.h"

#include "platform/failure.h"

namespace vz::ado {

const char16_t* ErrorDescription(AdoError number) {
  switch (number) {
    case kNoCurrentRow:
      return u"Either BOF or EOF is True, or the current record has been deleted. Requested "
             u"operation requires a current record.";
    case kBadArguments:
      return u"Arguments are of the wrong type, are out of acceptable range, or are in conflict "
             u"with one another.";
    case kObjectClosed:
      return u"Operation is not allowed when the object is closed.";
    case kProviderNotFound:
      return u"Provider cannot be found. It may not be properly installed.";
    case kConnectionClosed:
      return u"The connection cannot be used to perform this operation. It is either closed or "
             u"invalid in this context.";
    case kItemNotFound:
      return u"Item cannot be found in the collection corresponding to the requested name or "
             u"ordinal.";
  }
  return u"";
}

void RaiseAdo(AdoError number) { Raise(number, ErrorDescription(number)); }

}  // namespace vz::ado
