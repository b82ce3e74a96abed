// The rows a search from the selection looks at: forward from the row after
// the first selected one to the end, then from the top round to the
// selected row itself; backward from the row before it to the top, then
// from the end back down to it.
#pragma once

struct SearchRange {
  int from;  // half-open [from, to) of row indexes
  int to;
};

struct SearchPlan {
  SearchRange first;
  SearchRange second;
  bool hasSecond;
};

// `selected` is the first selected row (-1 for none), `rows` the row count.
SearchPlan ForwardSearchPlan(int selected, int rows);
SearchPlan BackwardSearchPlan(int selected, int rows);

// Runs `search(from, to)` over the plan's ranges; the first hit, or -1.
template <class Search>
int RunSearchPlan(const SearchPlan& plan, Search search) {
  int hit = search(plan.first.from, plan.first.to);
  if (hit < 0 && plan.hasSecond) {
    hit = search(plan.second.from, plan.second.to);
  }
  return hit;
}
