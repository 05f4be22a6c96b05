// The file objects the component calls: a file-system object that opens text
// files, and the text stream it returns.
//
//   com::Ref<fso::FileSystemObject> files = fso::CreateFileSystemObject();
//   com::Ref<fso::TextStream> stream =
//       files->OpenTextFile(u"\\srv\\tpl\\a.htm", fso::ForReading, false, fso::TristateFalse);
//   Text text = stream->ReadAll();
//   stream->Close();
//
// Paths come with "\" as the separator and are mapped to the POSIX file
// system ("\" becomes "/"). Files are read as ANSI text in the code page of
// platform/fso/code_page.h and decoded into UTF-16 (see decoder.h). Only
// reading is offered: another mode, Create = true or another format fails
// with 5.
//
// Failures: a missing file 53 "File not found"; a missing folder on the way
// 76 "Path not found"; no permission 70 "Permission denied"; a folder, an
// empty path or anything that is not a regular file 75 "Path/File access
// error"; a read or close error 57 "Device I/O error". No descriptor stays
// open after a failure; releasing a stream closes its file.

#ifndef VAVIZAR_PLATFORM_FSO_FILE_SYSTEM_H_
#define VAVIZAR_PLATFORM_FSO_FILE_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/ref.h"
#include "platform/com/unknown.h"
#include "platform/fso/decoder.h"
#include "platform/text.h"

namespace vz::fso {

// IOMode of OpenTextFile.
inline constexpr int32_t ForReading = 1;
// Format of OpenTextFile: ANSI text.
inline constexpr int32_t TristateFalse = 0;

// A failure of this layer that the run-time table has no text for.
inline constexpr int32_t kDeviceIoError = 57;  // "Device I/O error"

class TextStream : public com::IUnknown {
 public:
  // Everything from the current position to the end, decoded; "" at the end.
  virtual Text ReadAll() = 0;
  // ReadAll written straight into `out` from its start, for a caller that
  // keeps the text in storage of its own; returns how many characters.
  virtual size_t ReadAllInto(CharBuffer& out) = 0;
  // The byte sequences of the last ReadAll that were not valid in the code
  // page (each became U+FFFD), and where the first stands in its text.
  virtual DecodeFaults ReadFaults() = 0;
  // Closes the file. Any later call fails with 5.
  virtual void Close() = 0;

 protected:
  ~TextStream() = default;
};

class FileSystemObject : public com::IUnknown {
 public:
  // Opens the file at `path` for reading. REQUIRES: io_mode == ForReading,
  // !create, format == TristateFalse (anything else raises 5).
  virtual com::Ref<TextStream> OpenTextFile(const Text& path, int32_t io_mode, bool create,
                                            int32_t format) = 0;

 protected:
  ~FileSystemObject() = default;
};

com::Ref<FileSystemObject> CreateFileSystemObject();

// The failure for an errno value of open (when the file at `posix_path` was
// being opened) or of read and close (`posix_path` empty). Raises it.
[[noreturn]] void RaiseFileError(int error, const std::string& posix_path);

// The code pages of `candidates` (numbers or names) in which every byte of
// the file at `path` ("/" and "\\" both separate folders) is valid, in the
// order given; those iconv does not know are left out. Empty when the file
// cannot be read. For telling an author which code page a template is in.
std::vector<std::string> CodePagesThatDecode(const Text& path,
                                             const std::vector<std::string>& candidates);

// Number of text streams not yet released, on all threads; a leak check.
int64_t LiveTextStreams();

inline constexpr com::IID IID_FileSystemObject{
    0x5d6b1f0e, 0x3c2a, 0x4e8b, {0x9a, 0x61, 0x27, 0x0c, 0x4f, 0xd3, 0x88, 0x15}};
inline constexpr com::IID IID_TextStream{
    0x8f3e2a71, 0x64b0, 0x4d19, {0xb2, 0x5c, 0x93, 0x1e, 0x7a, 0x06, 0xcd, 0x42}};

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_FILE_SYSTEM_H_
