// Critical sections: one owned for an object's life, and the guard that
// holds one for a scope. Every enter and leave in the layers goes through
// the guard, so no early return can leave a section held.
#pragma once

#include <windows.h>

// Initialises a critical section that spins before it sleeps, where the system
// offers that (looked up once per process).
void InitCriticalSectionSpin(CRITICAL_SECTION* section);

// A critical section initialised with spinning and deleted with the object.
class CCriticalSection {
 public:
  CCriticalSection() { InitCriticalSectionSpin(&m_section); }
  ~CCriticalSection() { DeleteCriticalSection(&m_section); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  CRITICAL_SECTION* get() { return &m_section; }

 private:
  CRITICAL_SECTION m_section;
};

// Holds a critical section from its construction to the end of its scope.
// Give it a name: an unnamed guard is left again at the end of its statement.
class CCriticalSectionGuard {
 public:
  explicit CCriticalSectionGuard(CRITICAL_SECTION* section) : m_section(section) { EnterCriticalSection(section); }
  explicit CCriticalSectionGuard(CCriticalSection& section) : CCriticalSectionGuard(section.get()) {}
  ~CCriticalSectionGuard() { LeaveCriticalSection(m_section); }
  CCriticalSectionGuard(const CCriticalSectionGuard&) = delete;
  CCriticalSectionGuard& operator=(const CCriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION* m_section;
};
