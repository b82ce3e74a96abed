#include "core/TraceFilterRegex.h"

#include <cstring>
#include <iterator>
#include <utility>

#include "core/CaseFold.h"

namespace {

constexpr wchar_t kLineFeed = L'\n';
constexpr wchar_t kCarriageReturn = L'\r';
constexpr wchar_t kLineSeparator = 0x2028;
constexpr wchar_t kParagraphSeparator = 0x2029;
constexpr wchar_t kBackspace = 0x08;
constexpr wchar_t kLastUnit = 0xFFFF;
constexpr int kUnbounded = -1;
// Counted repeats beyond this are refused before expanding them.
constexpr int kMaxRepeatCount = 1000;
// Nesting beyond this is refused (condition texts are 127 characters).
constexpr int kMaxRegexDepth = 256;
constexpr int kControlLetterModulo = 32;
constexpr int kHexRadix = 16;
constexpr int kDecimalRadix = 10;
constexpr int kHexEscapeDigits = 2;
constexpr int kUnicodeEscapeDigits = 4;

inline bool IsWordUnit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
}

inline bool IsLineTerminator(wchar_t c) {
  return c == kLineFeed || c == kCarriageReturn || c == kLineSeparator || c == kParagraphSeparator;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + kDecimalRadix;
  if (c >= L'A' && c <= L'F') return c - L'A' + kDecimalRadix;
  return -1;
}

using RegexRange = CTraceFilterRegex::Range;

constexpr RegexRange kDigitRanges[] = {{L'0', L'9'}};
constexpr RegexRange kWordRanges[] = {{L'0', L'9'}, {L'A', L'Z'}, {L'_', L'_'}, {L'a', L'z'}};
constexpr RegexRange kSpaceRanges[] = {{0x09, 0x0D}, {0x20, 0x20},     {0xA0, 0xA0},     {0x1680, 0x1680},
                                       {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F},
                                       {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};

struct RegexSet {
  const RegexRange* ranges;
  size_t count;
  bool negated;
};

// The set a class escape letter names (d, w, s and their capitals).
bool ClassEscapeSet(wchar_t letter, RegexSet* set) {
  switch (letter) {
    case L'd': case L'D':
      *set = {kDigitRanges, std::size(kDigitRanges), letter == L'D'};
      return true;
    case L'w': case L'W':
      *set = {kWordRanges, std::size(kWordRanges), letter == L'W'};
      return true;
    case L's': case L'S':
      *set = {kSpaceRanges, std::size(kSpaceRanges), letter == L'S'};
      return true;
    default:
      return false;
  }
}

enum RegexNodeKind : uint8_t {
  kReEmpty,
  kReChar,
  kReAny,
  kReClass,
  kReConcat,
  kReAlternative,
  kReRepeat,
  kReLineStart,
  kReLineEnd,
  kReWordBoundary,
  kReNotWordBoundary,
};

struct RegexNode {
  RegexNodeKind kind;
  wchar_t ch;
  uint32_t cls;
  int a;
  int b;
  int min;
  int max;
};

}  // namespace


namespace {

// Recursive descent over the pattern into a small tree; recursion follows
// the pattern's nesting, never the text.
class RegexParser {
 public:
  RegexParser(const wchar_t* pattern, size_t length, CTraceFilterRegex* target)
      : m_pattern(pattern), m_length(length), m_target(target) {}

  // False for an invalid or unsupported pattern.
  bool Parse(int* root) {
    *root = ParseAlternation(0);
    return *root >= 0 && m_pos == m_length;
  }
  const std::vector<RegexNode>& Nodes() const { return m_nodes; }

 private:
  bool AtEnd() const { return m_pos >= m_length; }
  wchar_t Peek() const { return m_pattern[m_pos]; }

  int Add(RegexNodeKind kind, int a = -1, int b = -1) {
    m_nodes.push_back(RegexNode{kind, 0, 0, a, b, 0, 0});
    return static_cast<int>(m_nodes.size() - 1);
  }
  int AddChar(wchar_t c) {
    const int node = Add(kReChar);
    m_nodes[static_cast<size_t>(node)].ch = c;
    return node;
  }

  int ParseAlternation(int depth) {
    if (depth > kMaxRegexDepth) return -1;
    int left = ParseSequence(depth);
    while (left >= 0 && !AtEnd() && Peek() == L'|') {
      ++m_pos;
      const int right = ParseSequence(depth);
      if (right < 0) return -1;
      left = Add(kReAlternative, left, right);
    }
    return left;
  }

  int ParseSequence(int depth) {
    int sequence = Add(kReEmpty);
    while (!AtEnd() && Peek() != L'|' && Peek() != L')') {
      bool assertion = false;
      int item = ParseAtom(depth, &assertion);
      if (item < 0) return -1;
      if (!AtEnd() && IsQuantifierStart(Peek())) {
        if (assertion) return -1;  // an assertion cannot be repeated
        item = ParseQuantifier(item);
        if (item < 0) return -1;
      }
      sequence = Add(kReConcat, sequence, item);
    }
    return sequence;
  }

  static bool IsQuantifierStart(wchar_t c) { return c == L'*' || c == L'+' || c == L'?' || c == L'{'; }

  bool ParseNumber(int* value) {
    const size_t start = m_pos;
    int number = 0;
    while (!AtEnd() && Peek() >= L'0' && Peek() <= L'9') {
      if (number <= kMaxRepeatCount) number = number * kDecimalRadix + (Peek() - L'0');
      ++m_pos;
    }
    *value = number;
    return m_pos > start;
  }

  int ParseQuantifier(int item) {
    int min = 0;
    int max = kUnbounded;
    const wchar_t c = m_pattern[m_pos++];
    if (c == L'+') {
      min = 1;
    } else if (c == L'?') {
      max = 1;
    } else if (c == L'{') {
      if (!ParseNumber(&min)) return -1;
      max = min;
      if (!AtEnd() && Peek() == L',') {
        ++m_pos;
        max = kUnbounded;
        if (!AtEnd() && Peek() != L'}' && !ParseNumber(&max)) return -1;
      }
      if (AtEnd() || Peek() != L'}') return -1;
      ++m_pos;
      if (min > kMaxRepeatCount || max > kMaxRepeatCount || (max != kUnbounded && max < min)) return -1;
    }
    if (!AtEnd() && Peek() == L'?') ++m_pos;  // lazy or greedy finds the same records
    if (!AtEnd() && IsQuantifierStart(Peek())) return -1;  // "a**" is not ECMAScript
    const int node = Add(kReRepeat, item);
    m_nodes[static_cast<size_t>(node)].min = min;
    m_nodes[static_cast<size_t>(node)].max = max;
    return node;
  }

  int AddSetClass(const RegexSet& set) {
    const uint32_t first = static_cast<uint32_t>(m_target->m_ranges.size());
    m_target->m_ranges.insert(m_target->m_ranges.end(), set.ranges, set.ranges + set.count);
    return AddClass(first, set.negated);
  }

  int AddClass(uint32_t first, bool negated) {
    const uint32_t count = static_cast<uint32_t>(m_target->m_ranges.size()) - first;
    m_target->m_classes.push_back(CTraceFilterRegex::CharClass{first, count, negated});
    const int node = Add(kReClass);
    m_nodes[static_cast<size_t>(node)].cls = static_cast<uint32_t>(m_target->m_classes.size() - 1);
    return node;
  }

  // A character escape after "\" (the letter is consumed); false when invalid.
  bool ParseCharEscape(wchar_t letter, bool inClass, wchar_t* value) {
    switch (letter) {
      case L't': *value = L'\t'; return true;
      case L'n': *value = L'\n'; return true;
      case L'r': *value = L'\r'; return true;
      case L'v': *value = L'\v'; return true;
      case L'f': *value = L'\f'; return true;
      case L'b':
        *value = kBackspace;
        return inClass;
      case L'0':
        *value = 0;
        return AtEnd() || Peek() < L'0' || Peek() > L'9';  // octal escapes are not ECMAScript
      case L'c':
        if (AtEnd() || !((Peek() >= L'a' && Peek() <= L'z') || (Peek() >= L'A' && Peek() <= L'Z'))) return false;
        *value = static_cast<wchar_t>(m_pattern[m_pos++] % kControlLetterModulo);
        return true;
      case L'x':
        return ParseHex(kHexEscapeDigits, value);
      case L'u':
        return ParseHex(kUnicodeEscapeDigits, value);
      default:
        // Identity escapes of punctuation; any other letter or digit (a
        // back-reference among them) is not supported.
        if (IsWordUnit(letter)) return false;
        *value = letter;
        return true;
    }
  }

  bool ParseHex(int digits, wchar_t* value) {
    int result = 0;
    for (int i = 0; i < digits; ++i) {
      const int digit = AtEnd() ? -1 : HexValue(Peek());
      if (digit < 0) return false;
      result = result * kHexRadix + digit;
      ++m_pos;
    }
    *value = static_cast<wchar_t>(result);
    return true;
  }

  int ParseAtom(int depth, bool* assertion) {
    const wchar_t c = m_pattern[m_pos++];
    switch (c) {
      case L'.':
        return Add(kReAny);
      case L'^':
        *assertion = true;
        return Add(kReLineStart);
      case L'$':
        *assertion = true;
        return Add(kReLineEnd);
      case L'*': case L'+': case L'?': case L'{':
        return -1;  // nothing to repeat
      case L'(':
        return ParseGroup(depth);
      case L'[':
        return ParseClass();
      case L'\\':
        return ParseAtomEscape(assertion);
      default:
        return AddChar(c);
    }
  }

  int ParseGroup(int depth) {
    if (!AtEnd() && Peek() == L'?') {
      // Only "(?:" is supported; look-around and named groups are not.
      if (m_pos + 1 >= m_length || m_pattern[m_pos + 1] != L':') return -1;
      m_pos += 2;
    }
    const int inner = ParseAlternation(depth + 1);
    if (inner < 0 || AtEnd() || Peek() != L')') return -1;
    ++m_pos;
    return inner;
  }

  int ParseAtomEscape(bool* assertion) {
    if (AtEnd()) return -1;
    const wchar_t letter = m_pattern[m_pos++];
    if (letter == L'b' || letter == L'B') {
      *assertion = true;
      return Add(letter == L'b' ? kReWordBoundary : kReNotWordBoundary);
    }
    RegexSet set;
    if (ClassEscapeSet(letter, &set)) return AddSetClass(set);
    wchar_t value = 0;
    if (!ParseCharEscape(letter, false, &value)) return -1;
    return AddChar(value);
  }

  // One class atom: a unit, or a set for \d \w \s and capitals.
  bool ParseClassAtom(wchar_t* value, RegexSet* set, bool* isSet) {
    *isSet = false;
    const wchar_t c = m_pattern[m_pos++];
    if (c != L'\\') {
      *value = c;
      return true;
    }
    if (AtEnd()) return false;
    const wchar_t letter = m_pattern[m_pos++];
    if (ClassEscapeSet(letter, set)) {
      *isSet = true;
      return true;
    }
    if (letter == L'-') {
      *value = L'-';
      return true;
    }
    return ParseCharEscape(letter, true, value);
  }

  void AddSetRanges(const RegexSet& set) {
    std::vector<RegexRange>& ranges = m_target->m_ranges;
    if (!set.negated) {
      ranges.insert(ranges.end(), set.ranges, set.ranges + set.count);
      return;
    }
    // The gaps between the set's (sorted) ranges.
    wchar_t next = 0;
    bool open = true;
    for (size_t i = 0; i < set.count; ++i) {
      if (set.ranges[i].low > next) ranges.push_back({next, static_cast<wchar_t>(set.ranges[i].low - 1)});
      if (set.ranges[i].high == kLastUnit) {
        open = false;
        break;
      }
      next = static_cast<wchar_t>(set.ranges[i].high + 1);
    }
    if (open) ranges.push_back({next, kLastUnit});
  }

  int ParseClass() {
    bool negated = false;
    if (!AtEnd() && Peek() == L'^') {
      negated = true;
      ++m_pos;
    }
    const uint32_t first = static_cast<uint32_t>(m_target->m_ranges.size());
    // "[]" is a class of nothing and "[^]" of everything, as in ECMAScript.
    while (!AtEnd() && Peek() != L']') {
      wchar_t low = 0;
      RegexSet lowSet;
      bool lowIsSet = false;
      if (!ParseClassAtom(&low, &lowSet, &lowIsSet)) return -1;
      if (m_pos + 1 < m_length && Peek() == L'-' && m_pattern[m_pos + 1] != L']') {
        ++m_pos;
        wchar_t high = 0;
        RegexSet highSet;
        bool highIsSet = false;
        if (!ParseClassAtom(&high, &highSet, &highIsSet)) return -1;
        if (lowIsSet || highIsSet || high < low) return -1;
        m_target->m_ranges.push_back({low, high});
        continue;
      }
      if (lowIsSet) {
        AddSetRanges(lowSet);
      } else {
        m_target->m_ranges.push_back({low, low});
      }
    }
    if (AtEnd()) return -1;
    ++m_pos;  // "]"
    return AddClass(first, negated);
  }

  const wchar_t* m_pattern;
  size_t m_length;
  size_t m_pos = 0;
  CTraceFilterRegex* m_target;
  std::vector<RegexNode> m_nodes;
};

// Thompson construction; a counted repeat is expanded into copies.
class RegexCompiler {
 public:
  RegexCompiler(const std::vector<RegexNode>& nodes, CTraceFilterRegex* target) : m_nodes(nodes), m_target(target) {}

  bool Emit(int index) {
    const RegexNode node = m_nodes[static_cast<size_t>(index)];
    switch (node.kind) {
      case kReEmpty:
        return true;
      case kReChar:
        return Push(CTraceFilterRegex::kOpChar, m_target->m_caseBlind ? LowerUnit(node.ch) : node.ch) >= 0;
      case kReAny:
        return Push(CTraceFilterRegex::kOpAny) >= 0;
      case kReClass:
        return Push(CTraceFilterRegex::kOpClass, 0, static_cast<uint16_t>(node.cls)) >= 0;
      case kReLineStart:
        return Push(CTraceFilterRegex::kOpLineStart) >= 0;
      case kReLineEnd:
        return Push(CTraceFilterRegex::kOpLineEnd) >= 0;
      case kReWordBoundary:
        return Push(CTraceFilterRegex::kOpWordBoundary) >= 0;
      case kReNotWordBoundary:
        return Push(CTraceFilterRegex::kOpNotWordBoundary) >= 0;
      case kReConcat:
        return Emit(node.a) && Emit(node.b);
      case kReAlternative:
        return EmitAlternative(node);
      case kReRepeat:
        return EmitRepeat(node);
    }
    return false;
  }

  int Push(uint8_t op, wchar_t ch = 0, uint16_t x = 0, uint16_t y = 0) {
    std::vector<CTraceFilterRegex::Instruction>& program = m_target->m_program;
    if (program.size() >= CTraceFilterRegex::kMaxProgram) return -1;
    program.push_back({op, ch, x, y});
    return static_cast<int>(program.size() - 1);
  }

 private:
  uint16_t Here() const { return static_cast<uint16_t>(m_target->m_program.size()); }
  CTraceFilterRegex::Instruction& At(int pc) { return m_target->m_program[static_cast<size_t>(pc)]; }

  bool EmitAlternative(const RegexNode& node) {
    const int split = Push(CTraceFilterRegex::kOpSplit);
    if (split < 0) return false;
    At(split).x = Here();
    if (!Emit(node.a)) return false;
    const int jump = Push(CTraceFilterRegex::kOpJump);
    if (jump < 0) return false;
    At(split).y = Here();
    if (!Emit(node.b)) return false;
    At(jump).x = Here();
    return true;
  }

  bool EmitRepeat(const RegexNode& node) {
    for (int i = 0; i < node.min; ++i) {
      if (!Emit(node.a)) return false;
    }
    if (node.max == kUnbounded) {
      const int loop = Push(CTraceFilterRegex::kOpSplit);
      if (loop < 0) return false;
      At(loop).x = Here();
      if (!Emit(node.a) || Push(CTraceFilterRegex::kOpJump, 0, static_cast<uint16_t>(loop)) < 0) return false;
      At(loop).y = Here();
      return true;
    }
    // Each optional copy may skip to the end of all of them.
    std::vector<int> splits;
    for (int i = node.min; i < node.max; ++i) {
      const int split = Push(CTraceFilterRegex::kOpSplit);
      if (split < 0) return false;
      splits.push_back(split);
      At(split).x = Here();
      if (!Emit(node.a)) return false;
    }
    for (int split : splits) At(split).y = Here();
    return true;
  }

  const std::vector<RegexNode>& m_nodes;
  CTraceFilterRegex* m_target;
};

}  // namespace

inline wchar_t CTraceFilterRegex::Fold(wchar_t c) const { return m_caseBlind ? LowerUnit(c) : c; }

int CTraceFilterRegex::Create(const wchar_t* pattern, size_t length, bool caseBlind, CTraceFilterRegex** out) {
  *out = nullptr;
  try {
    auto* regex = new CTraceFilterRegex;
    regex->m_caseBlind = caseBlind;
    RegexParser parser(pattern, length, regex);
    int root = -1;
    RegexCompiler compiler(parser.Nodes(), regex);
    if (!parser.Parse(&root) || !compiler.Emit(root) || compiler.Push(kOpMatch) < 0) {
      delete regex;
      return 1;  // not an expression we can run: its condition matches nothing
    }
    if (regex->m_program[0].op == kOpChar) regex->m_firstUnit = regex->m_program[0].ch;
    *out = regex;
    return 1;
  } catch (...) {
    return 0;  // std::bad_alloc from the containers above
  }
}

bool CTraceFilterRegex::InRanges(const CharClass& cls, wchar_t c) const {
  const RegexRange* range = m_ranges.data() + cls.first;
  for (uint32_t i = 0; i < cls.count; ++i) {
    if (c >= range[i].low && c <= range[i].high) return true;
  }
  return false;
}

bool CTraceFilterRegex::ClassHas(uint16_t index, wchar_t c) const {
  const CharClass& cls = m_classes[index];
  bool found = InRanges(cls, c);
  if (!found && m_caseBlind) found = InRanges(cls, LowerUnit(c)) || InRanges(cls, UpperUnit(c));
  return found != cls.negated;
}

bool CTraceFilterRegex::Step(const Instruction& instruction, wchar_t c) const {
  switch (instruction.op) {
    case kOpChar:
      return Fold(c) == instruction.ch;
    case kOpAny:
      return !IsLineTerminator(c);
    case kOpClass:
      return ClassHas(instruction.x, c);
    default:
      return false;
  }
}

// Follows the empty moves from pc at text position pos; units that consume a
// character go into the list. Each instruction is visited once per position
// (marks), so an empty loop such as "(a*)*" ends, and the explicit stack
// holds at most two entries per instruction. True when the match is reached.
bool CTraceFilterRegex::AddThread(uint16_t pc, const wchar_t* text, size_t length, size_t pos, uint32_t generation,
                                  uint32_t* marks, uint16_t* stack, uint16_t* list, size_t* count) const {
  size_t depth = 0;
  stack[depth++] = pc;
  while (depth) {
    const uint16_t at = stack[--depth];
    if (marks[at] == generation) continue;
    marks[at] = generation;
    const Instruction& instruction = m_program[at];
    const uint16_t following = static_cast<uint16_t>(at + 1);
    switch (instruction.op) {
      case kOpMatch:
        return true;
      case kOpJump:
        stack[depth++] = instruction.x;
        break;
      case kOpSplit:
        stack[depth++] = instruction.y;
        stack[depth++] = instruction.x;
        break;
      case kOpLineStart:
        if (pos == 0) stack[depth++] = following;
        break;
      case kOpLineEnd:
        if (pos == length) stack[depth++] = following;
        break;
      case kOpWordBoundary:
      case kOpNotWordBoundary: {
        const bool before = pos > 0 && IsWordUnit(text[pos - 1]);
        const bool after = pos < length && IsWordUnit(text[pos]);
        if ((before != after) == (instruction.op == kOpWordBoundary)) stack[depth++] = following;
        break;
      }
      default:
        list[(*count)++] = at;
        break;
    }
  }
  return false;
}

bool CTraceFilterRegex::Search(const wchar_t* text, size_t length) const {
  uint32_t marks[kMaxProgram];
  uint16_t stack[2 * kMaxProgram + 1];
  uint16_t listA[kMaxProgram];
  uint16_t listB[kMaxProgram];
  std::memset(marks, 0, m_program.size() * sizeof(marks[0]));
  uint16_t* current = listA;
  uint16_t* next = listB;
  size_t currentCount = 0;
  uint32_t generation = 1;
  for (size_t pos = 0;; ++pos) {
    if (currentCount == 0 && m_firstUnit >= 0) {
      // No attempt is under way: jump to where one can begin.
      while (pos < length && Fold(text[pos]) != m_firstUnit) ++pos;
      if (pos == length) return false;
      ++generation;
    }
    // A new attempt starts at every position: a search, not a full match.
    if (AddThread(0, text, length, pos, generation, marks, stack, current, &currentCount)) return true;
    if (pos == length) return false;
    const wchar_t c = text[pos];
    ++generation;
    size_t nextCount = 0;
    for (size_t i = 0; i < currentCount; ++i) {
      const uint16_t pc = current[i];
      if (Step(m_program[pc], c) &&
          AddThread(static_cast<uint16_t>(pc + 1), text, length, pos + 1, generation, marks, stack, next, &nextCount)) {
        return true;
      }
    }
    std::swap(current, next);
    currentCount = nextCount;
  }
}
