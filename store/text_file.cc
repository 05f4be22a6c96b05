#include "store/text_file.h"

#include "platform/fso/file_system.h"
#include "store/error_log.h"

namespace vz {

namespace {

// Opens the file at `path`, hands its stream to `read` and closes it.
template <typename Read>
void WithTextFile(Text path, Read&& read) {
  path = Replace(path, u"/", u"\\");
  // Made anew on every call; the stream goes before the file-system object.
  com::Ref<fso::FileSystemObject> files = fso::CreateFileSystemObject();
  com::Ref<fso::TextStream> stream =
      files->OpenTextFile(path, fso::ForReading, false, fso::TristateFalse);
  read(*stream);
  stream->Close();
}

}  // namespace

void ReadTextFileOrRaise(Text path, Text& text, fso::DecodeFaults* faults) {
  text.clear();
  WithTextFile(std::move(path), [&](fso::TextStream& stream) {
    text = stream.ReadAll();
    if (faults != nullptr) *faults = stream.ReadFaults();
  });
}

size_t ReadTextFileInto(Text path, CharBuffer& out, Text& log) {
  size_t length = 0;
  try {
    WithTextFile(std::move(path),
                 [&](fso::TextStream& stream) { length = stream.ReadAllInto(out); });
  } catch (...) {
    AppendError(log, Text());
  }
  return length;
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
