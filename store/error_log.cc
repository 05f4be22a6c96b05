#include "store/error_log.h"

#include "platform/clock.h"
#include "platform/failure.h"

namespace vz {

void AppendError(Text& Log, Text Msg) {
  Text entry;
  if (Msg.empty()) {
    Text when = DateTimeText(Now());
    ErrorState error = CurrentError();
    entry = Concat({when, u" - [", DecimalText(error.number), u"] ", error.description, u"\r\n"});
  } else {
    entry = Concat({DateTimeText(Now()), u" - [Vantrel_ZozEza] ", Msg, u"\r\n"});
  }
  Append(Log, entry);
}

}  // namespace vz
