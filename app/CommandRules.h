// What the frame's commands may do at a given moment: the facts gathered
// once when a menu opens (or a key arrives), and the enable and check rules
// of every command as plain functions of those facts. The same rules grey
// the menu items and refuse the commands, so a key never does what the menu
// would not offer.
#pragma once

#include <windows.h>

#include <cstdint>

struct CommandFacts {
  bool rowSelected = false;       // the list has a selected row
  bool hasRows = false;           // the list has rows
  bool viewUsable = false;        // a view is shown and no filter job owns it
  bool liveShown = false;         // the live capture is the current document
  bool followNewItems = false;    // the list follows new records
  bool alwaysOnTop = false;       // the option is set
  bool captureOn = false;
  uint32_t connection = 0;        // 0 not connected, 1 connecting, 2 connected
  bool dumpListEmpty = true;      // the local dump-file list as last refreshed
  uint32_t documentRecords = 0;   // under the document's shared lock
  uint32_t viewRecords = 0;       // the shown view's, under the same lock
  bool documentHasData = false;   // the document's has-data flag
  bool viewChanged = false;       // the shown view's changed flag
  bool uploadDialogOpen = false;
  bool statisticDialogOpen = false;
  UINT lastBookmarkCommand = 0;   // the colour command shown checked
};

// A command's enable rule; null for a command that is always enabled.
using EnableRule = bool (*)(const CommandFacts&);

// How a command's check mark follows the facts.
enum class CheckRule : uint8_t {
  kNone,            // never touched
  kFollowNewItems,  // checked while following (left alone while disabled)
  kAlwaysOnTop,     // checked while the option is set
  kLastBookmark,    // the last colour command is checked, the others unchecked
};

// What a menu shows for one command.
struct CommandState {
  bool enabled = true;
  int check = -1;  // 1 checked, 0 unchecked, -1 left as it is
};

namespace ktrules {
bool RowSelected(const CommandFacts& facts);
bool HasRows(const CommandFacts& facts);
// The list commands that read or mark the shown view's records.
bool SelectedInUsableView(const CommandFacts& facts);
bool RowsInUsableView(const CommandFacts& facts);
bool ViewUsable(const CommandFacts& facts);
bool LiveShown(const CommandFacts& facts);
bool DocumentHasRecords(const CommandFacts& facts);
bool ViewHasRecords(const CommandFacts& facts);
// Save dump file: connected, while capture is on; not connected, while the
// dump list is not empty; connecting, never.
bool DumpFilesAvailable(const CommandFacts& facts);
bool CanUploadDocument(const CommandFacts& facts);
bool CanUploadView(const CommandFacts& facts);
bool CanConnect(const CommandFacts& facts);
bool CanDisconnect(const CommandFacts& facts);
bool CanOpenStatistic(const CommandFacts& facts);

// The state of command `id` (a command of its row's range) under its rules.
CommandState Evaluate(UINT id, EnableRule enable, CheckRule check, const CommandFacts& facts);
}  // namespace ktrules
