#include "store/text_file.h"

#include "component/error_log.h"
#include "platform/fso/file_system.h"

namespace vz {

Text ReadTextFile(Text path, Text& log) {
  Text result;
  try {
    path = Replace(path, u"/", u"\\");
    // Made anew on every call; the stream goes before the file-system object.
    com::Ref<fso::FileSystemObject> files = fso::CreateFileSystemObject();
    com::Ref<fso::TextStream> stream =
        files->OpenTextFile(path, fso::ForReading, false, fso::TristateFalse);
    result = stream->ReadAll();
    stream->Close();
  } catch (...) {
    AppendError(log, Text());
  }
  return result;
}

}  // namespace vz
