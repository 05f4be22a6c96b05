#include "platform/com/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/com/error_info.h"

namespace vz::com {
namespace {

std::string EnvOr(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOr("HOME");
  if (!home.empty()) return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    return found->pw_dir;
  return "/tmp";
}

// Creates every missing folder on the way to `file`.
bool MakeParents(const std::string& file) {
  for (size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1)) {
    std::string folder = file.substr(0, at);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool ValidEntry(const RegistryEntry& e) {
  auto has_any = [](const std::string& s, const char* chars) {
    return s.find_first_of(chars) != std::string::npos;
  };
  return !e.key.empty() && !has_any(e.key, "\r\n[]") && !e.name.empty() &&
         !has_any(e.name, "\r\n=") && e.name[0] != '[' && e.name[0] != ';' &&
         !has_any(e.value, "\r\n");
}

HRESULT Fail(const std::string& what) {
  SetErrorInfo(FromUtf8(what));
  return E_FAIL;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Runs `change` on the registry's content under the lock and writes the
// result back atomically.
HRESULT UpdateRegistry(const std::function<void(RegistryHive&)>& change) {
  const std::string path = RegistryPath();
  if (!MakeParents(path)) return Fail(SystemError("cannot create the folder of", path));
  const std::string lock_path = path + ".lock";
  int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) return Fail(SystemError("cannot open", lock_path));
  struct Unlock {
    int fd;
    ~Unlock() { close(fd); }  // closing the descriptor releases the lock
  } unlock{lock};
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) return Fail(SystemError("cannot lock", lock_path));
  }

  RegistryHive hive;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    std::optional<RegistryHive> parsed = ParseHive(text.str());
    if (!parsed) return Fail("the registry file " + path + " is damaged; it was left as it is");
    hive = std::move(*parsed);
  } else if (errno != ENOENT) {
    return Fail(SystemError("cannot read", path));
  }

  change(hive);

  const std::string temp = path + ".tmp." + std::to_string(getpid());
  {
    std::string text = HiveText(hive);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(SystemError("cannot create", temp));
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        std::string message = SystemError("cannot write", temp);
        close(fd);
        unlink(temp.c_str());
        return Fail(message);
      }
      done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
      std::string message = SystemError("cannot write", temp);
      unlink(temp.c_str());
      return Fail(message);
    }
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    std::string message = SystemError("cannot replace", path);
    unlink(temp.c_str());
    return Fail(message);
  }
  return S_OK;
}

}  // namespace

std::string RegistryPath() {
  std::string explicit_path = EnvOr("VAVIZAR_COM_REGISTRY");
  if (!explicit_path.empty()) return explicit_path;
  std::string data = EnvOr("XDG_DATA_HOME");
  if (data.empty()) data = HomeFolder() + "/.local/share";
  return data + "/vavizar/registry.txt";
}

std::string HiveText(const RegistryHive& hive) {
  std::string text = "; component registrations\n";
  for (const auto& [key, values] : hive) {
    text += "\n[" + key + "]\n";
    for (const auto& [name, value] : values) text += name + "=" + value + "\n";
  }
  return text;
}

std::optional<RegistryHive> ParseHive(const std::string& text) {
  RegistryHive hive;
  const std::string* key = nullptr;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') return std::nullopt;
      auto [at, inserted] = hive.try_emplace(line.substr(1, line.size() - 2));
      key = &at->first;
      continue;
    }
    size_t equals = line.find('=');
    if (key == nullptr || equals == std::string::npos || equals == 0) return std::nullopt;
    hive[*key][line.substr(0, equals)] = line.substr(equals + 1);
  }
  return hive;
}

HRESULT WriteRegistry(const std::vector<RegistryEntry>& entries) {
  for (const RegistryEntry& e : entries) {
    if (!ValidEntry(e)) return E_INVALIDARG;
  }
  return UpdateRegistry([&](RegistryHive& hive) {
    for (const RegistryEntry& e : entries) hive[e.key][e.name] = e.value;
  });
}

HRESULT EraseRegistry(const std::vector<RegistryEntry>& entries) {
  for (const RegistryEntry& e : entries) {
    if (!ValidEntry(e)) return E_INVALIDARG;
  }
  return UpdateRegistry([&](RegistryHive& hive) {
    for (const RegistryEntry& e : entries) {
      auto key = hive.find(e.key);
      if (key == hive.end()) continue;
      key->second.erase(e.name);
      if (key->second.empty()) hive.erase(key);
    }
  });
}

std::optional<std::string> ReadRegistry(const std::string& key, const std::string& name) {
  std::ifstream in(RegistryPath(), std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  std::optional<RegistryHive> hive = ParseHive(text.str());
  if (!hive) return std::nullopt;
  auto at = hive->find(key);
  if (at == hive->end()) return std::nullopt;
  auto value = at->second.find(name);
  if (value == at->second.end()) return std::nullopt;
  return value->second;
}

}  // namespace vz::com
