#include "platform/com/types.h"

#include <cstdio>
#include <cstring>

namespace vz::com {

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

HRESULT HResultFromFailureNumber(int32_t number) {
  if (number == 7) return E_OUTOFMEMORY;
  if (number > 0 && number <= 0xFFFF)
    return MakeHResult(0x800A0000u | static_cast<uint32_t>(number));
  if (number < 0) return number;
  return E_FAIL;
}

int32_t FailureNumberFromHResult(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) return 7;
  uint32_t bits = static_cast<uint32_t>(hr);
  if ((bits & 0xFFFF0000u) == 0x800A0000u && (bits & 0xFFFFu) != 0)
    return static_cast<int32_t>(bits & 0xFFFFu);
  return hr;
}

std::string GuidText(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  uint8_t bytes[16];
  size_t k = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[k++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  GUID g;
  g.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
            bytes[3];
  g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(g.Data4, bytes + 8, 8);
  return g;
}

}  // namespace vz::com
