// The record filter: a level mask, process-id and thread-id lists and up to
// 16 text conditions, compiled into a byte-coded node list that Match walks.
// A filter is not locked: it is built on one thread and handed over as a
// copy; matching never changes it, so several threads may match at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/ModuleGroups.h"  // BitCount, HighestBitIndex
#include "core/RefString.h"
#include "core/TraceRecord.h"

// Which tests a filter applies (CTraceFilter::m_flags, and the part mask of
// CTraceFilter::Assign).
constexpr uint32_t kFilterLevel = 0x01;
constexpr uint32_t kFilterPids = 0x02;
constexpr uint32_t kFilterConditions = 0x04;
constexpr uint32_t kFilterTids = 0x08;
constexpr uint32_t kFilterAllFlags = kFilterLevel | kFilterPids | kFilterConditions | kFilterTids;

// The record string a condition tests; other values never match.
constexpr uint8_t kConditionModule = 3;   // "NAME"
constexpr uint8_t kConditionHint = 4;     // "HINT"
constexpr uint8_t kConditionMessage = 5;  // "MESSAGE"

// Condition flags: the operator in the low four bits, then the OR and case bits.
constexpr uint8_t kConditionOperatorMask = 0x0F;
constexpr uint8_t kOperatorIs = 0;
constexpr uint8_t kOperatorInclude = 1;
constexpr uint8_t kOperatorIsNot = 2;
constexpr uint8_t kOperatorExclude = 3;
constexpr uint8_t kOperatorRegex = 4;
constexpr uint8_t kConditionOr = 0x40;             // joined to the previous one by OR
constexpr uint8_t kConditionCaseSensitive = 0x80;

// The word of an operator in a condition's text form and in the condition
// editor: "IS", "INCLUDE", "IS NOT", "EXCLUDE", "REGEX"; any other value
// reads "EXCLUDE".
const wchar_t* ConditionOperatorWord(uint8_t op);

constexpr size_t kMaxFilterConditions = 16;
constexpr size_t kConditionTextChars = 128;  // 127 characters and the terminator

// Kinds of compiled nodes; kinds 3 to 5 are conditions (the field value).
constexpr uint8_t kNodeEnd = 0;
constexpr uint8_t kNodeOrAlternative = 1;
constexpr uint8_t kNodeOrEnd = 2;

struct CTraceFilterCondition {
  uint8_t m_field = 0;
  uint8_t m_flags = 0;
  CString m_text;  // lower case unless case-sensitive or a regular expression

  uint8_t Operator() const { return m_flags & kConditionOperatorMask; }
  bool IsOr() const { return (m_flags & kConditionOr) != 0; }
  bool IsCaseSensitive() const { return (m_flags & kConditionCaseSensitive) != 0; }
  // Field, flags without the OR bit and text (exact) are equal.
  bool SameTest(const CTraceFilterCondition& other) const;
};

// One compiled node; a condition node's text (UTF-16, terminated) follows
// the header directly. Offsets count from the start of the node list.
struct TraceFilterNode {
  uint8_t kind;
  uint8_t flags;        // the condition's flags, 0 for kinds 0 to 2
  uint16_t next;        // offset of the next node
  uint8_t op;           // the condition's operator
  uint8_t reserved;
  uint16_t textChars;   // text length without the terminator
  uint32_t regexSlot;   // compiled expression of an operator-4 node
  uint32_t reserved2;

  const wchar_t* Text() const { return reinterpret_cast<const wchar_t*>(this + 1); }
};
static_assert(sizeof(TraceFilterNode) == 16);

// The byte-coded form of the conditions, owned by its filter.
struct TraceFilterNodeList {
  uint8_t* data = nullptr;
  size_t capacity = 0;
  size_t used = 0;
};

class CTraceFilterRegex;       // a compiled regular expression (core/TraceFilterRegex.h)
struct TraceFilterFieldCache;  // lower-case copies of one record's strings

class CTraceFilter {
 public:
  CTraceFilter();
  // Copies flags, level mask, both id lists and every condition; the copy's
  // node list starts empty, so it must be compiled before matching. Parts
  // that cannot be allocated are left out.
  CTraceFilter(const CTraceFilter& other);
  CTraceFilter& operator=(const CTraceFilter& other);
  ~CTraceFilter();

  // index -1 appends; an index of an existing condition replaces it. 1 on
  // success (also when an equal condition already stands and nothing is
  // appended); 0 for a full list (16), an index outside the list or no memory.
  int AddCondition(uint8_t field, uint8_t flags, const wchar_t* text, int index);
  // An index outside the list does nothing.
  void RemoveCondition(int index);
  // Drops every condition, then copies the source's (null: none). 0 when a
  // copy could not be allocated; the conditions copied so far stay.
  int RemoveAllConditions(const CTraceFilter* source);
  // Index of a condition equal to `condition` in the group it would join, or -1.
  int FindCondition(const CTraceFilterCondition& condition) const;

  // Takes over the parts of `source` named by the mask's flag bits (0: all)
  // and recompiles. 0 when copying or compiling ran out of memory; the filter
  // then matches no record that needs its conditions.
  int Assign(uint32_t mask, const CTraceFilter& source);
  // Rebuilds the node list and the compiled expressions. 0 when memory ran
  // out: the node list is then empty and the conditions match nothing. An
  // invalid regular expression is not a failure: its condition matches
  // nothing. Expressions are ECMAScript without back-references and
  // look-around (those count as invalid), searched in time linear in the text.
  int Compile();

  // True when `pattern` compiles as an expression of a regular-expression
  // condition. False for invalid syntax and for what the engine does not
  // support (back-references, look-around): conditions are refused such a
  // pattern where they are made, since it would match nothing.
  static bool IsValidExpression(const wchar_t* pattern);

  // 1 when the record passes every switched-on test, else 0.
  int Match(const TraceRecord* record) const;
  // Evaluates one condition node on the record: 1 passes.
  int MatchNode(const TraceFilterNode* node, const TraceRecord* record) const;

  // Nonzero when the two filters may select different records (always when
  // text conditions are used).
  int IsDifferent(const CTraceFilter& other) const;
  bool operator==(const CTraceFilter& other) const { return IsDifferent(other) == 0; }
  bool operator!=(const CTraceFilter& other) const { return IsDifferent(other) != 0; }

  // The text form of one condition, e.g. AND "NAME" INCLUDE "foo", cut to the
  // buffer. Returns the length written, or -1 for an index outside the list
  // or a buffer of size 0 (the buffer then holds "" when it has room).
  int FormatCondition(int index, wchar_t* buffer, size_t size) const;

  // Convenience for callers that build a filter: each switches its test on.
  void SetLevelMask(uint32_t mask);
  int AddProcessId(uint32_t pid);
  int AddThreadId(uint32_t tid);

  size_t ConditionCount() const { return m_conditions.count; }
  // The filter keeps ownership; null past the end.
  const CTraceFilterCondition* ConditionAt(size_t index) const {
    return index < m_conditions.count ? m_conditions[index] : nullptr;
  }
  const TraceFilterNodeList& Nodes() const { return m_nodes; }

  uint32_t m_flags;       // kFilterLevel, kFilterPids, kFilterConditions, kFilterTids
  uint32_t m_levelMask;   // tested against the whole level word
  CGrowArray<uint32_t> m_pids;
  CGrowArray<CTraceFilterCondition*> m_conditions;  // owned, at most 16
  CGrowArray<uint32_t> m_tids;

 private:
  int CopyFrom(const CTraceFilter& other);
  int ReserveExpression(size_t needed);
  int EmitNode(uint8_t kind, const CTraceFilterCondition* condition, size_t* offset);
  int AddRegex(const CTraceFilterCondition& condition, uint32_t* slot);
  void ClearNodes();
  void FreeConditions();
  int MatchNodes(const TraceRecord* record, TraceFilterFieldCache* cache) const;
  int MatchCondition(const TraceFilterNode* node, const TraceRecord* record, TraceFilterFieldCache* cache) const;

  TraceFilterNodeList m_nodes;
  CGrowArray<CTraceFilterRegex*> m_regexes;  // null slot: an invalid expression
};
