#include "core/TraceFilter.h"

#include <emmintrin.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <utility>

#include "core/CaseFold.h"
#include "core/StrUtil.h"
#include "core/TraceFilterRegex.h"

namespace {

constexpr size_t kNodeHeaderBytes = sizeof(TraceFilterNode);
constexpr size_t kMinNodeListBytes = 128;
constexpr size_t kMaxNodeOffset = 0xFFFF;
constexpr size_t kMaxConditionChars = kConditionTextChars - 1;
// Messages up to this length are lowered on the stack; longer ones need a
// heap copy (live messages stop at 2048 units).
constexpr size_t kInlineMessageChars = 2048;
constexpr uint8_t kFirstConditionNode = kConditionModule;
constexpr uint8_t kLastConditionNode = kConditionMessage;

bool IsConditionKind(uint8_t kind) { return kind >= kFirstConditionNode && kind <= kLastConditionNode; }

size_t TextBytes(const CTraceFilterCondition& condition) {
  return (condition.m_text.GetLength() + 1) * sizeof(wchar_t);
}

bool ListContains(const CGrowArray<uint32_t>& list, uint32_t value) {
  for (size_t i = 0; i < list.count; ++i) {
    if (list.data[i] == value) return true;
  }
  return false;
}

bool ListsDiffer(const CGrowArray<uint32_t>& a, const CGrowArray<uint32_t>& b) {
  return a.count != b.count || (a.count && std::memcmp(a.data, b.data, a.count * sizeof(uint32_t)) != 0);
}

int CopyList(CGrowArray<uint32_t>* target, const CGrowArray<uint32_t>& source) {
  if (target == &source) return 1;
  target->Clear();
  return target->AppendN(source.data, source.count);
}

// Matching runs for every record of every view, so the three loops below
// work on eight UTF-16 units at a time (SSE2 is part of every x86-64 CPU).
constexpr size_t kLanes = sizeof(__m128i) / sizeof(wchar_t);

__m128i LoadLanes(const wchar_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Length of the string at `text`, never reading at or past `limit`: a string
// that is not terminated inside its record ends at the record's end.
size_t BoundedLength(const wchar_t* text, const wchar_t* limit) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  const size_t room = static_cast<size_t>(limit - text);
  for (; i + kLanes <= room; i += kLanes) {
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(LoadLanes(text + i), zero)));
    if (mask) return i + static_cast<size_t>(__builtin_ctz(mask)) / sizeof(wchar_t);
  }
  while (i < room && text[i]) ++i;
  return i;
}

// Lowers `length` units into `target`; blocks of ASCII take the vector path.
void LowerCopy(const wchar_t* text, size_t length, wchar_t* target) {
  const __m128i nonAsciiBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const __m128i beforeA = _mm_set1_epi16(L'A' - 1);
  const __m128i afterZ = _mm_set1_epi16(L'Z' + 1);
  const __m128i caseBit = _mm_set1_epi16(L'a' - L'A');
  constexpr int kAllLanes = 0xFFFF;
  size_t i = 0;
  for (; i + kLanes <= length; i += kLanes) {
    const __m128i units = LoadLanes(text + i);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, nonAsciiBits), zero)) != kAllLanes) {
      for (size_t k = i; k < i + kLanes; ++k) target[k] = LowerUnit(text[k]);
      continue;
    }
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(units, beforeA), _mm_cmplt_epi16(units, afterZ));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_add_epi16(units, _mm_and_si128(upper, caseBit)));
  }
  for (; i < length; ++i) target[i] = LowerUnit(text[i]);
}

bool TextEquals(const wchar_t* text, size_t length, const TraceFilterNode* node) {
  return length == node->textChars && std::wmemcmp(text, node->Text(), length) == 0;
}

bool TextContains(const wchar_t* text, size_t length, const TraceFilterNode* node) {
  const size_t patternLength = node->textChars;
  if (patternLength == 0) return true;
  if (patternLength > length) return false;
  const wchar_t* pattern = node->Text();
  const size_t lastAt = patternLength - 1;
  const size_t starts = length - patternLength + 1;
  // A start is a candidate only when both the first and the last unit of the
  // pattern fit; eight starts are tested at once and the middle compared only
  // for candidates. The loads stay inside the text: the last one ends at
  // start + lastAt + 7 <= length - 1.
  const __m128i first = _mm_set1_epi16(static_cast<short>(pattern[0]));
  const __m128i last = _mm_set1_epi16(static_cast<short>(pattern[lastAt]));
  size_t i = 0;
  for (; i + kLanes <= starts; i += kLanes) {
    const __m128i hits = _mm_and_si128(_mm_cmpeq_epi16(LoadLanes(text + i), first),
                                       _mm_cmpeq_epi16(LoadLanes(text + i + lastAt), last));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    while (mask) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      const size_t at = i + bit / sizeof(wchar_t);
      if (patternLength <= 2 || std::wmemcmp(text + at + 1, pattern + 1, patternLength - 2) == 0) return true;
      mask &= ~(3u << bit);
    }
  }
  for (; i < starts; ++i) {
    if (text[i] == pattern[0] && text[i + lastAt] == pattern[lastAt] &&
        (patternLength <= 2 || std::wmemcmp(text + i + 1, pattern + 1, patternLength - 2) == 0)) {
      return true;
    }
  }
  return false;
}

}  // namespace

// The record's three strings, and lower-case copies made on first use, so
// several case-blind conditions on one field lower it once per record.
struct TraceFilterFieldCache {
  static constexpr size_t kFields = 3;

  explicit TraceFilterFieldCache(const TraceRecord* r) : record(r) {}
  ~TraceFilterFieldCache() { std::free(heapMessage); }
  TraceFilterFieldCache(const TraceFilterFieldCache&) = delete;
  TraceFilterFieldCache& operator=(const TraceFilterFieldCache&) = delete;

  static size_t Slot(uint8_t kind) { return static_cast<size_t>(kind - kFirstConditionNode); }

  const wchar_t* Raw(uint8_t kind, size_t* length) {
    const size_t slot = Slot(kind);
    if (!rawKnown[slot]) {
      const uint16_t offset = kind == kConditionModule ? record->moduleOffset
                              : kind == kConditionHint ? record->hintOffset
                                                       : record->messageOffset;
      const wchar_t* end = reinterpret_cast<const wchar_t*>(reinterpret_cast<const uint8_t*>(record) +
                                                            (record->length & ~1u));
      raw[slot] = record->StringAt(offset);
      rawLength[slot] = (offset & 1u) == 0 && raw[slot] < end ? BoundedLength(raw[slot], end) : 0;
      rawTerminated[slot] = !rawLength[slot] || raw[slot] + rawLength[slot] < end;
      if (!rawLength[slot]) raw[slot] = L"";
      rawKnown[slot] = true;
    }
    *length = rawLength[slot];
    return raw[slot];
  }

  // The raw string when its terminator lies inside the record, else null.
  const wchar_t* Terminated(uint8_t kind, size_t* length) {
    const wchar_t* text = Raw(kind, length);
    return rawTerminated[Slot(kind)] ? text : nullptr;
  }

  const wchar_t* Lower(uint8_t kind, size_t* length) {
    const size_t slot = Slot(kind);
    if (lower[slot]) {
      *length = lowerLength[slot];
      return lower[slot];
    }
    size_t rawChars = 0;
    const wchar_t* text = Raw(kind, &rawChars);
    wchar_t* target = nullptr;
    size_t room = 0;
    if (kind == kConditionMessage) {
      target = inlineMessage;
      room = kInlineMessageChars;
      if (rawChars >= room) {
        heapMessage = static_cast<wchar_t*>(std::malloc((rawChars + 1) * sizeof(wchar_t)));
        if (heapMessage) {
          target = heapMessage;
          room = rawChars + 1;
        }
      }
    } else {
      // Module and hint are at most 127 characters by the record format.
      target = kind == kConditionModule ? inlineModule : inlineHint;
      room = kConditionTextChars;
    }
    const size_t chars = rawChars < room ? rawChars : room - 1;
    LowerCopy(text, chars, target);
    target[chars] = L'\0';
    lower[slot] = target;
    lowerLength[slot] = chars;
    *length = chars;
    return target;
  }

  const TraceRecord* record;
  const wchar_t* raw[kFields] = {};
  size_t rawLength[kFields] = {};
  bool rawKnown[kFields] = {};
  bool rawTerminated[kFields] = {};
  const wchar_t* lower[kFields] = {};
  size_t lowerLength[kFields] = {};
  wchar_t* heapMessage = nullptr;
  // Left uninitialised: only the part that a lowering writes is read.
  wchar_t inlineModule[kConditionTextChars];
  wchar_t inlineHint[kConditionTextChars];
  wchar_t inlineMessage[kInlineMessageChars];
};

bool CTraceFilterCondition::SameTest(const CTraceFilterCondition& other) const {
  return m_field == other.m_field && (m_flags & ~kConditionOr) == (other.m_flags & ~kConditionOr) &&
         m_text == other.m_text;
}

CTraceFilter::CTraceFilter() : m_flags(0), m_levelMask(0) {}

CTraceFilter::CTraceFilter(const CTraceFilter& other) : m_flags(0), m_levelMask(0) { CopyFrom(other); }

CTraceFilter& CTraceFilter::operator=(const CTraceFilter& other) {
  if (this != &other) {
    ClearNodes();
    CopyFrom(other);
  }
  return *this;
}

CTraceFilter::~CTraceFilter() {
  FreeConditions();
  ClearNodes();
  std::free(m_nodes.data);
}

int CTraceFilter::CopyFrom(const CTraceFilter& other) {
  m_flags = other.m_flags;
  m_levelMask = other.m_levelMask;
  int ok = CopyList(&m_pids, other.m_pids);
  ok &= CopyList(&m_tids, other.m_tids);
  if (!RemoveAllConditions(&other)) {
    // A partial list would select more records than asked for: keep the
    // conditions switched on with no node list, which matches nothing.
    m_flags |= kFilterConditions;
    ok = 0;
  }
  return ok;
}

void CTraceFilter::FreeConditions() {
  for (size_t i = 0; i < m_conditions.count; ++i) delete m_conditions[i];
  m_conditions.Free();
}

void CTraceFilter::ClearNodes() {
  m_nodes.used = 0;
  for (size_t i = 0; i < m_regexes.count; ++i) delete m_regexes[i];
  m_regexes.Free();
}

void CTraceFilter::SetLevelMask(uint32_t mask) {
  m_levelMask = mask;
  m_flags |= kFilterLevel;
}

int CTraceFilter::AddProcessId(uint32_t pid) {
  m_flags |= kFilterPids;
  return m_pids.AddUnique(pid);
}

int CTraceFilter::AddThreadId(uint32_t tid) {
  m_flags |= kFilterTids;
  return m_tids.AddUnique(tid);
}

int CTraceFilter::AddCondition(uint8_t field, uint8_t flags, const wchar_t* text, int index) {
  const bool append = index == -1;
  if (!append && (index < 0 || static_cast<size_t>(index) >= m_conditions.count)) return 0;
  if (append && m_conditions.count >= kMaxFilterConditions) return 0;

  const wchar_t* source = text ? text : L"";
  wchar_t copy[kConditionTextChars];
  const size_t length = wcsnlen(source, kMaxConditionChars);
  std::wmemcpy(copy, source, length);
  copy[length] = L'\0';
  // A regular expression keeps its text as written: lowering it would turn
  // "\D" into "\d". A case-blind one is compiled case-blind instead.
  const bool caseBlindText = !(flags & kConditionCaseSensitive) && (flags & kConditionOperatorMask) != kOperatorRegex;
  if (caseBlindText) WcsToLowerInPlace(copy);

  CString value;
  if (!value.Assign(copy, length) && length) return 0;
  ClearNodes();

  if (!append) {
    CTraceFilterCondition* condition = m_conditions[static_cast<size_t>(index)];
    condition->m_field = field;
    condition->m_flags = index == 0 ? static_cast<uint8_t>(flags & ~kConditionOr) : flags;
    condition->m_text = value;
    return 1;
  }

  auto* condition = new (std::nothrow) CTraceFilterCondition;
  if (!condition) return 0;
  condition->m_field = field;
  condition->m_flags = m_conditions.count == 0 ? static_cast<uint8_t>(flags & ~kConditionOr) : flags;
  condition->m_text = value;
  if (FindCondition(*condition) >= 0) {
    delete condition;
    return 1;
  }
  if (!m_conditions.Append(condition)) {
    delete condition;
    return 0;
  }
  m_flags |= kFilterConditions;
  return 1;
}

int CTraceFilter::FindCondition(const CTraceFilterCondition& condition) const {
  for (size_t i = m_conditions.count; i-- > 0;) {
    const CTraceFilterCondition* existing = m_conditions[i];
    if (!condition.IsOr()) {
      // A plain condition may only merge with the plain ones at the end: an
      // equal one inside or before an OR group tests something else.
      if (existing->IsOr()) return -1;
      if (existing->SameTest(condition)) return static_cast<int>(i);
    } else {
      if (existing->SameTest(condition)) return static_cast<int>(i);
      if (!existing->IsOr()) return -1;  // the head of the last OR group
    }
  }
  return -1;
}

void CTraceFilter::RemoveCondition(int index) {
  if (index < 0 || static_cast<size_t>(index) >= m_conditions.count) return;
  delete m_conditions[static_cast<size_t>(index)];
  m_conditions.RemoveAt(static_cast<size_t>(index));
  ClearNodes();
  if (m_conditions.count == 0) {
    m_flags &= ~kFilterConditions;
  } else if (index == 0) {
    m_conditions[0]->m_flags &= static_cast<uint8_t>(~kConditionOr);
  }
}

int CTraceFilter::RemoveAllConditions(const CTraceFilter* source) {
  if (source == this) return 1;
  FreeConditions();
  ClearNodes();
  if (!source) return 1;
  if (!m_conditions.Reserve(source->m_conditions.count)) return 0;
  for (size_t i = 0; i < source->m_conditions.count; ++i) {
    auto* copy = new (std::nothrow) CTraceFilterCondition(*source->m_conditions[i]);
    if (!copy) return 0;
    m_conditions.Append(copy);  // room reserved above
  }
  return 1;
}

int CTraceFilter::Assign(uint32_t mask, const CTraceFilter& source) {
  int ok = 1;
  bool conditionsFailed = false;
  if (&source != this) {
    if (mask == 0) {
      m_flags = source.m_flags;
      m_levelMask = source.m_levelMask;
      ok &= CopyList(&m_pids, source.m_pids);
      ok &= CopyList(&m_tids, source.m_tids);
      conditionsFailed = !RemoveAllConditions(&source);
    } else {
      // Only the tests taken over change their switch; the others keep ours.
      m_flags = (m_flags & ~mask) | (source.m_flags & mask);
      if (mask & kFilterLevel) m_levelMask = source.m_levelMask;
      if (mask & kFilterPids) ok &= CopyList(&m_pids, source.m_pids);
      if (mask & kFilterTids) ok &= CopyList(&m_tids, source.m_tids);
      if (mask & kFilterConditions) conditionsFailed = !RemoveAllConditions(&source);
    }
  }
  m_flags &= kFilterAllFlags;
  ClearNodes();
  if (conditionsFailed) {
    m_flags |= kFilterConditions;  // no node list: matches nothing
    return 0;
  }
  if (m_conditions.count == 0) m_flags &= ~kFilterConditions;
  if (m_flags & kFilterConditions) ok &= Compile();
  return ok;
}

int CTraceFilter::ReserveExpression(size_t needed) {
  if (needed <= m_nodes.capacity) return 1;
  size_t wanted = m_nodes.capacity * 2;
  if (wanted < needed) wanted = needed;
  if (wanted < kMinNodeListBytes) wanted = kMinNodeListBytes;
  auto* block = static_cast<uint8_t*>(std::realloc(m_nodes.data, wanted));
  if (!block) return 0;
  m_nodes.data = block;
  m_nodes.capacity = wanted;
  return 1;
}

int CTraceFilter::AddRegex(const CTraceFilterCondition& condition, uint32_t* slot) {
  if (!m_regexes.Reserve(m_regexes.count + 1)) return 0;
  CTraceFilterRegex* compiled = nullptr;
  if (!CTraceFilterRegex::Create(condition.m_text.c_str(), condition.m_text.GetLength(), !condition.IsCaseSensitive(),
                                 &compiled)) {
    return 0;
  }
  *slot = static_cast<uint32_t>(m_regexes.count);
  m_regexes.Append(compiled);  // room reserved above; null: an invalid expression
  return 1;
}

// Appends one node; *offset receives where it starts. Condition nodes carry
// their text and point at the node behind it.
int CTraceFilter::EmitNode(uint8_t kind, const CTraceFilterCondition* condition, size_t* offset) {
  const size_t textBytes = condition ? TextBytes(*condition) : 0;
  const size_t start = m_nodes.used;
  const size_t end = start + kNodeHeaderBytes + textBytes;
  if (end > kMaxNodeOffset || !ReserveExpression(end)) return 0;
  TraceFilterNode node = {};
  node.kind = kind;
  node.next = static_cast<uint16_t>(end);
  if (condition) {
    node.flags = condition->m_flags;
    node.op = condition->Operator();
    node.textChars = static_cast<uint16_t>(condition->m_text.GetLength());
    if (node.op == kOperatorRegex && !AddRegex(*condition, &node.regexSlot)) return 0;
  }
  std::memcpy(m_nodes.data + start, &node, sizeof node);
  if (condition) std::memcpy(m_nodes.data + start + kNodeHeaderBytes, condition->m_text.c_str(), textBytes);
  m_nodes.used = end;
  *offset = start;
  return 1;
}

bool CTraceFilter::IsValidExpression(const wchar_t* pattern) {
  CTraceFilterRegex* regex = nullptr;
  if (pattern == nullptr || !CTraceFilterRegex::Create(pattern, wcslen(pattern), false, &regex) || regex == nullptr) {
    return false;
  }
  delete regex;
  return true;
}

int CTraceFilter::Compile() {
  ClearNodes();
  const size_t count = m_conditions.count;
  size_t at = 0;
  bool ok = true;
  for (size_t i = 0; ok && i < count;) {
    size_t last = i;
    while (last + 1 < count && m_conditions[last + 1]->IsOr()) ++last;
    const CTraceFilterCondition* head = m_conditions[i];
    if (last == i) {
      ok = EmitNode(head->m_field, head, &at);
      i = last + 1;
      continue;
    }
    size_t groupEnd = m_nodes.used;
    for (size_t k = i; k <= last; ++k) groupEnd += 2 * kNodeHeaderBytes + TextBytes(*m_conditions[k]);
    if (groupEnd > kMaxNodeOffset) ok = false;
    for (size_t k = i; ok && k <= last; ++k) {
      const CTraceFilterCondition* member = m_conditions[k];
      size_t alternative = 0;
      ok = EmitNode(kNodeOrAlternative, nullptr, &alternative) && EmitNode(member->m_field, member, &at);
      if (!ok) break;
      // The alternative's next runs past its wrapped node; the wrapped node
      // jumps to the group end once it has matched.
      auto* wrapper = reinterpret_cast<TraceFilterNode*>(m_nodes.data + alternative);
      wrapper->next = static_cast<uint16_t>(m_nodes.used);
      reinterpret_cast<TraceFilterNode*>(m_nodes.data + at)->next = static_cast<uint16_t>(groupEnd);
    }
    ok = ok && EmitNode(kNodeOrEnd, nullptr, &at);
    i = last + 1;
  }
  ok = ok && EmitNode(kNodeEnd, nullptr, &at);
  if (!ok) {
    ClearNodes();  // never a half-built list: with conditions on, nothing matches
    return 0;
  }
  return 1;
}

int CTraceFilter::Match(const TraceRecord* record) const {
  if (!record) return 0;
  if ((m_flags & kFilterLevel) && !(m_levelMask & record->level)) return 0;
  if ((m_flags & kFilterPids) && !ListContains(m_pids, record->pid)) return 0;
  if ((m_flags & kFilterTids) && !ListContains(m_tids, record->tid)) return 0;
  if (!(m_flags & kFilterConditions)) return 1;
  if (m_nodes.used == 0) return 0;
  TraceFilterFieldCache cache(record);
  return MatchNodes(record, &cache);
}

int CTraceFilter::MatchNodes(const TraceRecord* record, TraceFilterFieldCache* cache) const {
  const uint8_t* data = m_nodes.data;
  const size_t used = m_nodes.used;
  auto nodeAt = [&](size_t offset) -> const TraceFilterNode* {
    return offset + kNodeHeaderBytes <= used ? reinterpret_cast<const TraceFilterNode*>(data + offset) : nullptr;
  };
  size_t at = 0;
  // Every jump goes forward, so the walk ends even on a damaged list.
  while (const TraceFilterNode* node = nodeAt(at)) {
    size_t next = node->next;
    if (node->kind == kNodeEnd) return 1;
    if (IsConditionKind(node->kind)) {
      if (!MatchCondition(node, record, cache)) return 0;
    } else if (node->kind == kNodeOrAlternative) {
      bool matched = false;
      const TraceFilterNode* alternative = node;
      size_t alternativeAt = at;
      while (alternative && alternative->kind == kNodeOrAlternative) {
        const TraceFilterNode* wrapped = nodeAt(alternativeAt + kNodeHeaderBytes);
        if (!wrapped) return 0;
        if (MatchCondition(wrapped, record, cache)) {
          next = wrapped->next;
          matched = true;
          break;
        }
        if (alternative->next <= alternativeAt) return 0;
        alternativeAt = alternative->next;
        alternative = nodeAt(alternativeAt);
      }
      if (!matched) return 0;
    } else if (node->kind != kNodeOrEnd) {
      return 0;
    }
    if (next <= at) return 0;
    at = next;
  }
  return 0;
}

int CTraceFilter::MatchNode(const TraceFilterNode* node, const TraceRecord* record) const {
  if (!node || !record) return 0;
  TraceFilterFieldCache cache(record);
  return MatchCondition(node, record, &cache);
}

int CTraceFilter::MatchCondition(const TraceFilterNode* node, const TraceRecord* record,
                                 TraceFilterFieldCache* cache) const {
  if (!IsConditionKind(node->kind)) return 0;
  size_t length = 0;
  if (node->op == kOperatorRegex) {
    if (node->regexSlot >= m_regexes.count || !m_regexes[node->regexSlot]) return 0;
    const wchar_t* text = cache->Raw(node->kind, &length);
    return m_regexes[node->regexSlot]->Search(text, length) ? 1 : 0;
  }
  const bool caseSensitive = (node->flags & kConditionCaseSensitive) != 0;
  // A case-blind containment folds the record's string as it reads it,
  // instead of lowering a copy first (the quick filter's conditions).
  if (!caseSensitive && (node->op == kOperatorInclude || node->op == kOperatorExclude)) {
    if (const wchar_t* raw = cache->Terminated(node->kind, &length)) {
      const bool found = node->textChars == 0 || (length >= node->textChars && WcsContains(raw, node->Text(), 0));
      return (node->op == kOperatorInclude) == found ? 1 : 0;
    }
  }
  const wchar_t* text = caseSensitive ? cache->Raw(node->kind, &length) : cache->Lower(node->kind, &length);
  switch (node->op) {
    case kOperatorIs:
      return TextEquals(text, length, node);
    case kOperatorInclude:
      return TextContains(text, length, node);
    case kOperatorIsNot:
      return !TextEquals(text, length, node);
    case kOperatorExclude:
      return !TextContains(text, length, node);
    default:
      return 0;
  }
}

int CTraceFilter::IsDifferent(const CTraceFilter& other) const {
  if (m_flags != other.m_flags) return 1;
  if ((m_flags & kFilterLevel) && m_levelMask != other.m_levelMask) return 1;
  if ((m_flags & kFilterPids) && ListsDiffer(m_pids, other.m_pids)) return 1;
  if ((m_flags & kFilterTids) && ListsDiffer(m_tids, other.m_tids)) return 1;
  return (m_flags & kFilterConditions) ? 1 : 0;
}

const wchar_t* ConditionOperatorWord(uint8_t op) {
  static constexpr const wchar_t* kOperatorWords[] = {L"IS", L"INCLUDE", L"IS NOT", L"EXCLUDE", L"REGEX"};
  return op < std::size(kOperatorWords) ? kOperatorWords[op] : kOperatorWords[kOperatorExclude];
}

int CTraceFilter::FormatCondition(int index, wchar_t* buffer, size_t size) const {
  if (!buffer || size == 0) return -1;
  buffer[0] = L'\0';
  if (index < 0 || static_cast<size_t>(index) >= m_conditions.count) return -1;
  const CTraceFilterCondition* condition = m_conditions[static_cast<size_t>(index)];
  const wchar_t* connector = (index == 0 || !condition->IsOr()) ? L"AND" : L"    OR";
  const wchar_t* field = condition->m_field == kConditionModule ? L"NAME"
                         : condition->m_field == kConditionHint ? L"HINT"
                                                                : L"MESSAGE";
  StrPrintfW(buffer, size, L"%s \"%s\" %s \"%s\"", connector, field, ConditionOperatorWord(condition->Operator()),
             condition->m_text.c_str());
  return static_cast<int>(std::wcslen(buffer));
}
