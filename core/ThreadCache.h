// One object per thread, made on first use and deleted when its thread
// ends. thread_local goes through emulated TLS with this compiler: a lock and
// a key lookup on every access, which the per-record caches pay for every
// record. The object is found through a thread-local slot (one read); a
// fiber-local slot owns it, whose callback deletes it at thread exit.
#pragma once

#include <windows.h>

#include <new>

template <typename T>
class CThreadCache {
 public:
  CThreadCache() : m_fast(TlsAlloc()), m_owner(FlsAlloc(&Delete)) {}
  ~CThreadCache() {
    if (m_owner != FLS_OUT_OF_INDEXES) {
      FlsFree(m_owner);  // deletes the objects of every thread
    }
    if (m_fast != TLS_OUT_OF_INDEXES) {
      TlsFree(m_fast);
    }
  }
  CThreadCache(const CThreadCache&) = delete;
  CThreadCache& operator=(const CThreadCache&) = delete;

  // This thread's object; null when no slot or no memory could be had, and
  // the caller works without its cache.
  T* Get() {
    if (m_fast == TLS_OUT_OF_INDEXES || m_owner == FLS_OUT_OF_INDEXES) {
      return nullptr;
    }
    auto* object = static_cast<T*>(TlsGetValue(m_fast));
    if (object != nullptr) {
      return object;
    }
    object = new (std::nothrow) T();
    if (object == nullptr) {
      return nullptr;
    }
    if (!FlsSetValue(m_owner, object)) {
      delete object;
      return nullptr;
    }
    if (!TlsSetValue(m_fast, object)) {
      FlsSetValue(m_owner, nullptr);
      delete object;
      return nullptr;
    }
    return object;
  }

 private:
  static void WINAPI Delete(void* object) { delete static_cast<T*>(object); }

  DWORD m_fast;
  DWORD m_owner;
};
