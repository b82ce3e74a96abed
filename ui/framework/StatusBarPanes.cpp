#include "ui/framework/StatusBarPanes.h"

namespace ktui {

void ComputePaneRightEdges(int clientWidth, int gripWidth, const int* widths, size_t count, size_t defaultIndex,
                           int* edges) {
  long long fixed = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i != defaultIndex) {
      fixed += widths[i] > 0 ? widths[i] : 0;
    }
  }
  const long long room = (long long)clientWidth - gripWidth - fixed;
  long long edge = 0;
  for (size_t i = 0; i < count; ++i) {
    const long long width = i == defaultIndex ? (room > 0 ? room : 0) : (widths[i] > 0 ? widths[i] : 0);
    edge += width;
    edges[i] = edge > INT_MAX ? INT_MAX : int(edge);
  }
}

}  // namespace ktui
