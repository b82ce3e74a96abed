// A list of heap objects in the order they were added; the list deletes them.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "core/Containers.h"

template <class T>
class COwnedList {
 public:
  COwnedList() = default;
  ~COwnedList() { Clear(); }
  COwnedList(const COwnedList&) = delete;
  COwnedList& operator=(const COwnedList&) = delete;

  // Takes ownership. 0 for null or when memory runs out (the object is
  // deleted then).
  int Append(T* item) {
    if (!item) return 0;
    if (!m_items.AppendN(&item, 1)) {
      delete item;
      return 0;
    }
    return 1;
  }
  size_t Count() const { return m_items.count; }
  // The list keeps ownership; null past the end.
  const T* operator[](size_t index) const { return index < m_items.count ? m_items[index] : nullptr; }
  // Sorts the objects from index first on; compare has qsort's shape on
  // pointers to the objects' pointers.
  void SortFrom(size_t first, int (*compare)(const void*, const void*)) {
    if (first < m_items.count) std::qsort(m_items.data + first, m_items.count - first, sizeof(T*), compare);
  }
  // Exchanges the objects of the two lists.
  void Swap(COwnedList& other) {
    CGrowArray<T*> held(static_cast<CGrowArray<T*>&&>(m_items));
    m_items = static_cast<CGrowArray<T*>&&>(other.m_items);
    other.m_items = static_cast<CGrowArray<T*>&&>(held);
  }
  void Clear() {
    for (size_t i = 0; i < m_items.count; ++i) delete m_items[i];
    m_items.count = 0;
  }

 private:
  CGrowArray<T*> m_items;
};
