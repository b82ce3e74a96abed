// The regular expressions of filter conditions: ECMAScript syntax without
// back-references and look-around, compiled once into a Thompson automaton
// that Search runs over the text in one pass. The time is linear in the
// text, nothing recurses on the text and a search allocates nothing, so no
// expression a user types can stall or overflow the capture thread.
// (std::wregex recurses once per character: ".*x" over a long message, or
// "((a)*)*b" over twenty characters, overflows the stack, which no handler
// can catch.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CTraceFilterRegex {
 public:
  static constexpr size_t kMaxProgram = 1024;

  // *out receives the compiled expression, or null when the pattern is not
  // valid or uses what this engine does not support. 0 when out of memory.
  static int Create(const wchar_t* pattern, size_t length, bool caseBlind, CTraceFilterRegex** out);

  // True when the expression is found anywhere in the text.
  bool Search(const wchar_t* text, size_t length) const;

  enum Op : uint8_t {
    kOpChar,
    kOpAny,
    kOpClass,
    kOpSplit,
    kOpJump,
    kOpLineStart,
    kOpLineEnd,
    kOpWordBoundary,
    kOpNotWordBoundary,
    kOpMatch,
  };
  struct Instruction {
    uint8_t op;
    wchar_t ch;
    uint16_t x;  // class index, or the jump and the first split target
    uint16_t y;  // the second split target
  };
  struct CharClass {
    uint32_t first;  // into m_ranges
    uint32_t count;
    bool negated;
  };
  struct Range {
    wchar_t low;
    wchar_t high;
  };

  std::vector<Instruction> m_program;
  std::vector<Range> m_ranges;
  std::vector<CharClass> m_classes;
  bool m_caseBlind = false;
  int m_firstUnit = -1;  // the folded unit every match starts with, or -1

 private:
  wchar_t Fold(wchar_t c) const;
  bool InRanges(const CharClass& cls, wchar_t c) const;
  bool ClassHas(uint16_t index, wchar_t c) const;
  bool Step(const Instruction& instruction, wchar_t c) const;
  bool AddThread(uint16_t pc, const wchar_t* text, size_t length, size_t pos, uint32_t generation,
                 uint32_t* marks, uint16_t* stack, uint16_t* list, size_t* count) const;
};
