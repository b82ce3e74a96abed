#include "ui/dialogs/StringArray.h"

void DeleteStringArray(const void* owner, CGrowArray<CString*>* array) {
  (void)owner;
  if (array == nullptr) {
    return;
  }
  for (size_t i = 0; i < array->count; ++i) {
    CString* text = (*array)[i];
    if (text != nullptr) {
      text->Empty();
      delete text;
    }
  }
  array->count = 0;
}
