#include "app/CommandRules.h"

namespace ktrules {
namespace {
constexpr uint32_t kConnecting = 1;
constexpr uint32_t kConnected = 2;
}  // namespace

bool RowSelected(const CommandFacts& facts) { return facts.rowSelected; }
bool HasRows(const CommandFacts& facts) { return facts.hasRows; }
bool SelectedInUsableView(const CommandFacts& facts) { return facts.rowSelected && facts.viewUsable; }
bool RowsInUsableView(const CommandFacts& facts) { return facts.hasRows && facts.viewUsable; }
bool ViewUsable(const CommandFacts& facts) { return facts.viewUsable; }
bool LiveShown(const CommandFacts& facts) { return facts.liveShown; }
bool DocumentHasRecords(const CommandFacts& facts) { return facts.documentRecords >= 1; }
bool ViewHasRecords(const CommandFacts& facts) { return facts.viewRecords >= 1; }

bool DumpFilesAvailable(const CommandFacts& facts) {
  if (facts.connection == kConnected) {
    return facts.captureOn;
  }
  if (facts.connection == kConnecting) {
    return false;
  }
  return !facts.dumpListEmpty;
}

bool CanUploadDocument(const CommandFacts& facts) { return facts.documentHasData && !facts.uploadDialogOpen; }
bool CanUploadView(const CommandFacts& facts) { return CanUploadDocument(facts) && facts.viewChanged; }
bool CanConnect(const CommandFacts& facts) { return facts.captureOn && facts.connection == 0; }
bool CanDisconnect(const CommandFacts& facts) { return facts.captureOn && facts.connection == kConnected; }
bool CanOpenStatistic(const CommandFacts& facts) { return facts.hasRows && !facts.statisticDialogOpen; }

CommandState Evaluate(UINT id, EnableRule enable, CheckRule check, const CommandFacts& facts) {
  CommandState state;
  state.enabled = enable == nullptr || enable(facts);
  switch (check) {
    case CheckRule::kFollowNewItems:
      if (state.enabled) {
        state.check = facts.followNewItems ? 1 : 0;
      }
      break;
    case CheckRule::kAlwaysOnTop:
      state.check = facts.alwaysOnTop ? 1 : 0;
      break;
    case CheckRule::kLastBookmark:
      // The menu bar keeps its menus between openings: a colour checked
      // before must be unchecked again.
      state.check = id == facts.lastBookmarkCommand ? 1 : 0;
      break;
    case CheckRule::kNone:
      break;
  }
  return state;
}
}  // namespace ktrules
