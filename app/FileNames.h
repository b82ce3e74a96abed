// Names the file commands make: the suggested save name, the paths of
// dump files copied beside a saved file, and the path a command line names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// "keltra_MMDDYYYY_hhmmss" from `utc`, with "_<group>" appended when a
// group name is given (the suffix at most 31 characters, the name at most
// 127).
std::wstring DefaultSaveName(const SYSTEMTIME& utc, const wchar_t* groupName);

// Where each dump file goes beside `savedPath`: its folder and its name
// without the extension, then "_<digit>" when the dump file's name ends in
// an underscore, one digit 0 to 9 and an extension, then ".dump". Two dump
// files that would get the same name get distinct ones (" (2)", " (3)" ...
// before ".dump"), so no copy replaces another.
std::vector<std::wstring> DumpTargets(const std::wstring& savedPath, const std::vector<std::wstring>& dumpPaths);

// The path a command line names: leading double quotes skipped, one
// trailing double quote cut when at least two characters are left. The
// whole text is one path; an empty result names nothing.
std::wstring CommandLinePath(const wchar_t* text);
