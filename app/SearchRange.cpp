#include "app/SearchRange.h"

SearchPlan ForwardSearchPlan(int selected, int rows) {
  const int start = selected < 0 ? 0 : selected + 1;
  return SearchPlan{{start, rows}, {0, start}, start >= 1};
}

SearchPlan BackwardSearchPlan(int selected, int rows) {
  const int end = selected < 1 ? rows : selected;
  return SearchPlan{{0, end}, {end, rows}, end != rows};
}
