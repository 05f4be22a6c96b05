#include "store/text_file.h"

#include "platform/fso/file_system.h"
#include "store/error_log.h"

namespace vz {

void ReadTextFileOrRaise(Text path, Text& text, fso::DecodeFaults* faults) {
  text.clear();
  path = Replace(path, u"/", u"\\");
  // Made anew on every call; the stream goes before the file-system object.
  com::Ref<fso::FileSystemObject> files = fso::CreateFileSystemObject();
  com::Ref<fso::TextStream> stream =
      files->OpenTextFile(path, fso::ForReading, false, fso::TristateFalse);
  text = stream->ReadAll();
  if (faults != nullptr) *faults = stream->ReadFaults();
  stream->Close();
}

Text ReadTextFile(Text path, Text& log) {
  Text result;
  try {
    ReadTextFileOrRaise(std::move(path), result);
  } catch (...) {
    AppendError(log, Text());
  }
  return result;
}

}  // namespace vz
