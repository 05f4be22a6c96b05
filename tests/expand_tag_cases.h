// Generated inputs for the differential check of tag expansion, built to hit
// the hard cases: odd tag names, both opening forms mixed, closing tags
// before, between and after the opening tags, several "[data]" markers,
// markup inside code and content, opening tags without "-->", and codes that
// bring markup back in.

#ifndef VAVIZAR_TESTS_EXPAND_TAG_CASES_H_
#define VAVIZAR_TESTS_EXPAND_TAG_CASES_H_

#include <cstdint>
#include <random>

#include "platform/text.h"

namespace vz::differential {

struct Case {
  Text text;
  Text name;
  Text code;
  int64_t max_length = 0;
};

class CaseMaker {
 public:
  explicit CaseMaker(uint64_t seed) : rng_(seed) {}

  Case Next() {
    Case c;
    c.name = Name();
    c.text = Fragments(c.name, 1 + Below(Below(8) == 0 ? 40 : 14), false);
    c.code = Fragments(c.name, Below(6), true);
    switch (Below(4)) {
      case 0:  // a limit the expansion may well reach
        c.max_length = static_cast<int64_t>(c.text.size()) + Below(120);
        break;
      default:
        c.max_length = 4096;
    }
    return c;
  }

 private:
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

  Text Name() {
    static const char16_t* const kNames[] = {
        u"box",  u"box",    u"box", u"",   u"",    u"a b", u"<",    u"%",      u">",  u"-",
        u"b>",   u"x-->",   u"%>",  u"<%", u"-->", u"!",   u"/",    u"\u6846", u"a",  u"box box",
        u"<!--", u"[data]", u"b-",  u"->", u"-x",  u" ",   u"\r\n", u"/box",   u"&=",
    };
    return kNames[Below(std::size(kNames))];
  }

  Text Attributes(const Text& name) {
    static const char16_t kChars[] = u"ab=&1 <!->%\r\n";
    Text out;
    for (uint32_t k = Below(6); k > 0; --k) {
      if (Below(8) == 0) {
        out += name;
      } else {
        out += kChars[Below(std::size(kChars) - 1)];
      }
    }
    return out;
  }

  Text Fragment(const Text& name) {
    switch (Below(22)) {
      case 0:
      case 1:
        return u"<!--" + name + u"-->";
      case 2:
      case 3:
        return u"<!--" + name + u" " + Attributes(name) + u"-->";
      case 4:
      case 5:
        return u"<!--/" + name + u"-->";
      case 6:
        return u"<!--";
      case 7:
        return u"-->";
      case 8:
        return u"<!--" + name;
      case 9:
        return Below(3) == 0 ? u"<!--" + name + u" " + Attributes(name) : u"<!--x";
      case 10:
        return u"<!--" + name + u"x-->";
      case 11:
        return u"[data]";
      case 12:
        return u"<%";
      case 13:
        return u"%>";
      case 14:
        return name;
      case 15:
        return u"<!--/";
      case 16:
        return Text(1 + Below(3), u"abcX<!->/% \r\n&=[]\u00e9"[Below(18)]);
      case 17:
        return u"<b>x</b>";
      case 18:
        return u"-";
      case 19:
        return u">";
      case 20:
        return u"<!--" + name + u" -->";
      default:
        return u"<!--/" + name;
    }
  }

  // Code pieces: markers, markup and parts of tags, but (except rarely) no
  // opening tag of its own name, which would only be refused.
  Text CodeFragment(const Text& name) {
    switch (Below(16)) {
      case 0:
      case 1:
      case 2:
        return u"[data]";
      case 3:
        return u"<!--/" + name + u"-->";
      case 4:
        return u"<!--";
      case 5:
        return u"-->";
      case 6:
        return u"<!--" + name;
      case 7:
        return u"<%";
      case 8:
        return u"%>";
      case 9:
        return name;
      case 10:
        return u"\r\n";
      case 11:
        return Below(2) ? u"[data" : u"data]";
      case 12:
        return Text(1 + Below(2), u"SE-> <!/"[Below(8)]);
      case 13:
        return u" ";
      case 14:
        return u"=&";
      default:
        if (Below(20) == 0) return Below(2) ? u"<!--" + name + u" " : u"<!--" + name + u"-->";
        return u"S";
    }
  }

  Text Fragments(const Text& name, uint32_t count, bool in_code) {
    Text out;
    for (uint32_t i = 0; i < count; ++i) out += in_code ? CodeFragment(name) : Fragment(name);
    return out;
  }

  std::mt19937_64 rng_;
};

}  // namespace vz::differential

#endif  // VAVIZAR_TESTS_EXPAND_TAG_CASES_H_
