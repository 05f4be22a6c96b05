#include "platform/fso/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/com/object.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/decoder.h"
#include "platform/fso/fault.h"
#include "platform/memory.h"

namespace vz::fso {
namespace {

constexpr int32_t kTooManyFiles = 67;
// The most a read asks for: a large file is read and decoded in pieces this
// big, which stay in the cache and reuse one buffer.
constexpr size_t kMaxReadSize = 256 * 1024;
// What a read asks for when the size of the file does not tell.
constexpr size_t kUnknownSizeRead = 64 * 1024;

std::atomic<int64_t> live_streams{0};

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder part of a POSIX path: "." for a bare name, "/" for the root.
std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

class FileTextStream final : public com::Object<TextStream, IID_TextStream> {
 public:
  FileTextStream(int fd, const std::string& code_page) : fd_(fd), code_page_(code_page) {
    ++live_streams;
  }

  // The file's size when it was opened, which the stream reads from its
  // start.
  void SetSizeAtOpen(off_t size) { size_at_open_ = size; }

  Text ReadAll() override {
    Text text;
    Read(text);
    return text;
  }

  size_t ReadAllInto(CharBuffer& out) override {
    CharsInBuffer chars(out);
    Read(chars);
    return chars.length;
  }

  DecodeFaults ReadFaults() override { return faults_; }

  // Reads the rest of the file into `out` (a Text or CharsInBuffer, empty).
  template <typename Out>
  void Read(Out& out) {
    if (fd_ < 0) Raise(kInvalidArgument);
    TextDecoder decoder(code_page_);
    // In the code pages in use a byte gives at most one UTF-16 unit, so the
    // rest of a regular file is room enough: one allocation for a large
    // template. Only a hint; the text still grows if it needs more.
    const size_t expected = RestOfFile();
    if (expected > 0 && expected <= static_cast<size_t>(kMaxTextLength))
      Reserve(out, expected + 16);
    // A file that is no larger than it was is read in one call; a read that
    // comes back short after that many bytes has met the end. The pieces
    // are read into the thread's scratch room, written before.
    ScratchBuffer scratch;
    const size_t size = std::min(
        scratch.size(), expected == 0 ? kUnknownSizeRead : std::min(expected + 1, kMaxReadSize));
    size_t total = 0;
    for (;;) {
      const size_t n = ReadSome(scratch.data(), size);
      if (n == 0) break;
      decoder.Feed(std::string_view(scratch.data(), n), out);
      total += n;
      if (n < size && total >= expected) break;
    }
    decoder.Finish(out);
    faults_ = decoder.faults();
  }

  static void Reserve(Text& out, size_t capacity) { ReserveText(out, capacity); }
  static void Reserve(CharsInBuffer& out, size_t capacity) { out.Reserve(capacity); }

  // The bytes from the current position to the end of the file, by its size
  // when it was opened (a file that changed since is read to its end all the
  // same); 0 when that cannot be told.
  size_t RestOfFile() const {
    return size_at_open_ > consumed_ ? static_cast<size_t>(size_at_open_ - consumed_) : 0;
  }

  // One read of up to `size` bytes; 0 at the end. Raises the read's failure.
  size_t ReadSome(char* buffer, size_t size) {
    for (;;) {
      ssize_t n;
      if (InjectFault()) {
        n = -1;
        errno = EIO;
      } else {
        n = read(fd_, buffer, size);
      }
      if (n >= 0) {
        consumed_ += n;
        return static_cast<size_t>(n);
      }
      if (errno != EINTR) RaiseFileError(errno, "");
    }
  }

  void Close() override {
    if (fd_ < 0) Raise(kInvalidArgument);
    int rc = close(fd_);
    int error = errno;
    fd_ = -1;
    if (InjectFault()) {
      rc = -1;
      error = EIO;
    }
    // After EINTR the descriptor is gone on Linux; nothing is lost.
    if (rc < 0 && error != EINTR) RaiseFileError(error, "");
  }

 private:
  ~FileTextStream() {
    if (fd_ >= 0) close(fd_);
    --live_streams;
  }

  int fd_;
  std::string code_page_;
  DecodeFaults faults_;
  off_t size_at_open_ = 0;
  off_t consumed_ = 0;  // bytes read so far
};

class PosixFileSystem final : public com::Object<FileSystemObject, IID_FileSystemObject> {
 public:
  com::Ref<TextStream> OpenTextFile(const Text& path, int32_t io_mode, bool create,
                                    int32_t format) override {
    if (io_mode != ForReading || create || format != TristateFalse) Raise(kInvalidArgument);
    if (path.empty()) Raise(kPathFileAccessError);
    std::string posix = ToUtf8(Replace(path, u"\\", u"/"));
    if (posix.find('\0') != std::string::npos) Raise(kPathFileAccessError);
    std::string code_page = CodePage();
    int fd;
    if (InjectFault()) {
      fd = -1;
      errno = EIO;
    } else {
      // Non-blocking, so that a FIFO given as the file cannot hang the open.
      fd = open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    }
    if (fd < 0) RaiseFileError(errno, posix);
    // From here the stream owns the descriptor and closes it on every path;
    // until it exists, the descriptor is closed here if making it fails.
    com::Ref<FileTextStream> stream;
    try {
      stream = com::Ref<FileTextStream>(new FileTextStream(fd, code_page));
    } catch (...) {
      close(fd);
      throw;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) RaiseFileError(errno, "");
    if (!S_ISREG(info.st_mode)) Raise(kPathFileAccessError);
    stream->SetSizeAtOpen(info.st_size);
    return com::Ref<TextStream>(stream.get());
  }

 private:
  ~PosixFileSystem() = default;
};

}  // namespace

com::Ref<FileSystemObject> CreateFileSystemObject() {
  return com::Ref<FileSystemObject>(new PosixFileSystem());
}

std::vector<std::string> CodePagesThatDecode(const Text& path,
                                             const std::vector<std::string>& candidates) {
  std::vector<std::string> clean;
  std::string bytes;
  {
    const std::string posix = ToUtf8(Replace(path, u"\\", u"/"));
    const int fd = open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return clean;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char buffer[65536];
    while (ok) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (!ok) return clean;
  }
  for (const std::string& candidate : candidates) {
    try {
      TextDecoder decoder(IconvName(candidate));
      Text text;
      decoder.Feed(bytes, text);
      decoder.Finish(text);
      if (decoder.faults().count == 0) clean.push_back(candidate);
    } catch (const Failure&) {
      // A set iconv does not know decodes nothing.
    }
  }
  return clean;
}

int64_t LiveTextStreams() { return live_streams.load(); }

void RaiseFileError(int error, const std::string& posix_path) {
  switch (error) {
    case ENOENT:
      if (!posix_path.empty() && !IsFolder(FolderOf(posix_path))) Raise(kPathNotFound);
      Raise(kFileNotFound);
    case ENOTDIR:
      Raise(kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
      Raise(kPermissionDenied);
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case ENXIO:
      Raise(kPathFileAccessError);
    case EMFILE:
    case ENFILE:
      Raise(kTooManyFiles, u"Too many files");
    case ENOMEM:
      Raise(kOutOfMemory);
    default:
      Raise(kDeviceIoError, u"Device I/O error");
  }
}

}  // namespace vz::fso
