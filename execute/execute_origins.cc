#include "execute/execute_origins.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/failure.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define VZ_SSE2 1
#else
#define VZ_SSE2 0
#endif

// The runs follow ExecuteCodeOf's scan step by step, but write nothing: they
// count the characters each step would write. HTML is searched sixteen
// characters at a time for the next one that needs work; the "%>" that ends
// a block is found with the vectorised Find. The scan runs twice, once to
// count the runs and once to store them, so that the vector is filled once:
// on a large page, memory touched for the first time costs more than a scan.

namespace vz {
namespace {

// The lengths of the pieces the conversion writes (execute/execute_code.cc);
// the tests rebuild ExecuteCodeOf from the runs, so any drift shows there.
constexpr size_t kWrite = 16;    // Response.Write "
constexpr size_t kLineEnd = 28;  // " & vbCrLf CR LF Response.Write "
constexpr size_t kLoneEnd = 12;  // " & vbCr & "  or  " & vbLf & "
constexpr size_t kQuote = 1;     // a closing or doubling quote
constexpr size_t kCrLf = 2;      // CR LF around code

// Whether the character at `at` needs work in HTML: a quote, CR, LF, and
// (when `kToOpen`) the "<" of "<%".
template <bool kToOpen>
bool Marked(const char16_t* p, size_t at, size_t n) {
  const char16_t c = p[at];
  return c == u'"' || c == u'\r' || c == u'\n' ||
         (kToOpen && c == u'<' && at + 1 < n && p[at + 1] == u'%');
}

#if VZ_SSE2
__m128i Load8(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
__m128i Is(__m128i chars, char16_t c) { return _mm_cmpeq_epi16(chars, _mm_set1_epi16(c)); }

// One bit for each of the 16 characters at `p` that Marked holds for.
// REQUIRES: 17 characters can be read at `p`.
template <bool kToOpen>
uint32_t Marks(const char16_t* p) {
  auto half = [&](const char16_t* q) {
    const __m128i chars = Load8(q);
    __m128i marks = _mm_or_si128(Is(chars, u'"'), _mm_or_si128(Is(chars, u'\r'), Is(chars, u'\n')));
    if (kToOpen)
      marks = _mm_or_si128(marks, _mm_and_si128(Is(chars, u'<'), Is(Load8(q + 1), u'%')));
    return marks;
  };
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(half(p), half(p + 8))));
}
#endif

// Finds the characters that need work in HTML, in order. The marks of a
// block of 16 are computed once and read a bit at a time.
template <bool kToOpen>
class MarkFinder {
 public:
  MarkFinder(const char16_t* p, size_t n) : p_(p), n_(n) {}

  // The first character from `at` that needs work, or n.
  // REQUIRES: `at` no less than in the call before.
  size_t Next(size_t at) {
#if VZ_SSE2
    for (;;) {
      if (at - block_ < 16) {
        const uint32_t marks = marks_ & (~uint32_t{0} << (at - block_));
        if (marks != 0) return block_ + static_cast<size_t>(__builtin_ctz(marks));
        at = block_ + 16;
      }
      if (n_ - at < 17) break;
      block_ = at;
      marks_ = Marks<kToOpen>(p_ + at);
    }
#endif
    while (at < n_ && !Marked<kToOpen>(p_, at, n_)) ++at;
    return at;
  }

 private:
  const char16_t* p_;
  size_t n_;
#if VZ_SSE2
  size_t block_ = ~size_t{0} - 16;  // no block yet
  uint32_t marks_ = 0;
#endif
};

// Whether `pair` stands at `at`.
bool PairAt(TextView text, size_t at, char16_t a, char16_t b) {
  return at + 1 < text.size() && text[at] == a && text[at + 1] == b;
}

// Counts the runs a scan makes, and the characters they cover.
class RunCount {
 public:
  void Copy(size_t from, size_t to) {
    count_ += to != from;
    end_ += to - from;
  }
  void Write(size_t length, size_t /*source*/) {
    ++count_;
    end_ += length;
  }
  size_t count() const { return count_; }
  size_t end() const { return end_; }

 private:
  size_t count_ = 0;
  size_t end_ = 0;
};

// Turns a scan's copies and written pieces into runs, one after another,
// each handed to `take`.
template <typename Take>
class RunMaker {
 public:
  explicit RunMaker(Take take) : take_(std::move(take)) {}

  // Copies server-page characters [from, to).
  void Copy(size_t from, size_t to) {
    if (to == from) return;
    take_(ExecRun{end_, to - from, true, from});
    end_ += to - from;
  }
  // Writes a piece of `length` for character `source`.
  void Write(size_t length, size_t source) {
    take_(ExecRun{end_, length, false, source});
    end_ += length;
  }

 private:
  Take take_;
  size_t end_ = 0;
};

// The character a piece is written for when the one it belongs to may not
// exist: `at` itself, else the last character of the text, else position 0
// of the empty text.
size_t Existing(size_t at, size_t n) { return at < n ? at : (n > 0 ? n - 1 : 0); }

// The runs of the HTML from `at` up to the first "<%" (or, when not
// `kToOpen`, to the end whatever it holds). Returns where it stopped.
template <bool kToOpen, class Runs>
size_t HtmlRuns(Runs& runs, TextView text, size_t at) {
  const char16_t* p = text.data();
  const size_t n = text.size();
  // The statement is written for the segment's first character: a segment
  // is empty only when the text is, whose position 0 stands for it.
  runs.Write(kWrite, at);
  size_t copied = at;  // the first character not yet in a run
  size_t i = at;
  MarkFinder<kToOpen> marked(p, n);
  for (;;) {
    i = marked.Next(i);
    if (i == n) break;
    const char16_t c = p[i];
    if (c == u'<') break;  // the "<%" that ends the segment
    if (c == u'"') {
      runs.Copy(copied, i + 1);
      runs.Write(kQuote, i);
      copied = ++i;
    } else {
      runs.Copy(copied, i);
      const bool line_end = c == u'\r' && i + 1 < n && p[i + 1] == u'\n';
      runs.Write(line_end ? kLineEnd : kLoneEnd, i);
      i += line_end ? 2 : 1;
      copied = i;
    }
  }
  runs.Copy(copied, i);
  runs.Write(kQuote, Existing(i, n));
  return i;
}

// Runs for a code segment from `at`: its copy between line breaks. Returns
// where the "%>" that ends it stands, or npos.
template <class Runs>
size_t CodeRuns(Runs& runs, TextView text, size_t at) {
  const size_t close = Find(text, u"%>", at);
  const size_t end = close == TextView::npos ? text.size() : close;
  runs.Write(kCrLf, at - 2);
  runs.Copy(at, end);
  runs.Write(kCrLf, Existing(end, text.size()));
  return close;
}

// The origin of character `at` of a server-page run. A kGenerated origin
// has no offset to advance.
Origin OriginAt(const OriginRun& run, size_t at) {
  Origin origin = run.origin;
  if (origin.kind != Origin::Kind::kGenerated) origin.offset += at - run.start;
  return origin;
}

// Whether `next` goes on where `prev` stops.
bool Continues(const OriginRun& prev, const OriginRun& next) {
  const Origin& a = prev.origin;
  const Origin& b = next.origin;
  if (a.converted || b.converted || a.kind != b.kind || a.row != b.row ||
      a.occurrence != b.occurrence || prev.start + prev.length != next.start)
    return false;
  return a.kind == Origin::Kind::kGenerated ? a.offset == b.offset
                                            : a.offset + prev.length == b.offset;
}

void Append(std::vector<OriginRun>& out, const OriginRun& run) {
  if (!out.empty() && Continues(out.back(), run)) {
    out.back().length += run.length;
  } else {
    out.push_back(run);
  }
}

// Finds the server-page run that holds a character. The characters asked
// for mostly go forward a little at a time, so the last run found and the
// one after it are tried before a binary search.
class RunFinder {
 public:
  explicit RunFinder(const std::vector<OriginRun>& runs) : runs_(runs) {}

  // The run that holds character `at`; raises 5 when none does.
  const OriginRun& Find(size_t at) {
    if (Holds(last_, at)) return runs_[last_];
    if (Holds(last_ + 1, at)) return runs_[++last_];
    const auto after = std::upper_bound(
        runs_.begin(), runs_.end(), at,
        [](size_t position, const OriginRun& run) { return position < run.start; });
    const auto index = static_cast<size_t>(after - runs_.begin());
    if (index == 0 || !Holds(index - 1, at))
      Raise(kInvalidArgument, u"No origin for character " + DecimalText(static_cast<int64_t>(at)) +
                                  u" of the server-page text");
    last_ = index - 1;
    return runs_[last_];
  }

 private:
  bool Holds(size_t index, size_t at) const {
    return index < runs_.size() && at >= runs_[index].start &&
           at - runs_[index].start < runs_[index].length;
  }

  const std::vector<OriginRun>& runs_;
  size_t last_ = 0;
};

// Carries the origins of the server-page text through execute-code runs
// given in order, appending the result to `out`.
class Composer {
 public:
  Composer(const std::vector<OriginRun>& server_page_runs, std::vector<OriginRun>& out)
      : server_page_runs_(server_page_runs), finder_(server_page_runs), out_(out) {}

  void Add(const ExecRun& exec) {
    if (!exec.copied) {
      Origin origin;  // position 0 of an empty text: the template's start
      if (!server_page_runs_.empty() || exec.source != 0)
        origin = OriginAt(finder_.Find(exec.source), exec.source);
      origin.converted = true;
      out_.push_back({exec.start, exec.length, origin});
      return;
    }
    // A copy takes the origins of what it copies, run by run.
    for (size_t done = 0; done < exec.length;) {
      const size_t at = exec.source + done;
      const OriginRun& run = finder_.Find(at);
      const size_t take = std::min(exec.length - done, run.start + run.length - at);
      Append(out_, {exec.start + done, take, OriginAt(run, at)});
      done += take;
    }
  }

 private:
  const std::vector<OriginRun>& server_page_runs_;
  RunFinder finder_;
  std::vector<OriginRun>& out_;
};

// The runs of the execute code of `text`, as ExecuteCodeOf scans it.
template <class Runs>
void ScanRuns(Runs& runs, TextView text) {
  const size_t n = text.size();
  bool is_code = PairAt(text, 0, u'<', u'%');
  size_t at = is_code ? 2 : 0;
  if (n == 0 || (is_code && Find(text, u"%>", at) == TextView::npos)) {
    // No delimiter at the first search: the whole text is one HTML segment,
    // a leading "<%" included.
    HtmlRuns<false>(runs, text, 0);
    return;
  }
  while (at < n) {
    if (!is_code) {
      // Up to a "<%", which opens a block unless it ends the text.
      at = HtmlRuns<true>(runs, text, at) + 2;
      is_code = true;
      continue;
    }
    const size_t close = CodeRuns(runs, text, at);
    if (close == TextView::npos) return;  // a block never closed is code to the end
    at = close + 2;
    is_code = PairAt(text, at, u'<', u'%');
    if (is_code) at += 2;
  }
}

}  // namespace

std::vector<ExecRun> ExecuteCodeRuns(TextView text) {
  RunCount count;
  ScanRuns(count, text);
  CheckTextLength(static_cast<int64_t>(count.end()));
  std::vector<ExecRun> out;
  out.reserve(count.count());
  RunMaker runs([&out](const ExecRun& run) { out.push_back(run); });
  ScanRuns(runs, text);
  return out;
}

std::vector<OriginRun> ComposeOrigins(const std::vector<OriginRun>& server_page_runs,
                                      const std::vector<ExecRun>& exec_runs) {
  std::vector<OriginRun> out;
  // Each copy is cut at most once at each border between server-page runs,
  // as no character is copied twice.
  out.reserve(exec_runs.size() + server_page_runs.size());
  Composer composer(server_page_runs, out);
  for (const ExecRun& exec : exec_runs) composer.Add(exec);
  return out;
}

std::vector<OriginRun> ExecuteCodeOrigins(TextView server_page,
                                          const std::vector<OriginRun>& server_page_runs) {
  std::vector<OriginRun> out;
  // Room for more runs than pages of HTML and code make (a line end or a
  // quote every few characters): room never written costs nothing, and
  // growing costs a copy.
  out.reserve(server_page.size() / 4 + server_page_runs.size() + 2);
  // Each run is composed as the scan makes it, with no list of its own.
  Composer composer(server_page_runs, out);
  RunMaker runs([&composer](const ExecRun& run) { composer.Add(run); });
  ScanRuns(runs, server_page);
  return out;
}

}  // namespace vz
