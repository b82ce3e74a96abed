#include "app/FileNames.h"

#include <cwchar>
#include <set>

namespace {
constexpr size_t kSuffixChars = 31;
constexpr size_t kNameChars = 127;
constexpr int kHighestDumpDigit = 9;

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// "_%d" for a name like "name_3.dump", else empty.
std::wstring DigitSuffix(const std::wstring& name) {
  const size_t underscore = name.rfind(L'_');
  if (underscore == std::wstring::npos) {
    return L"";
  }
  const size_t dot = name.find(L'.', underscore);
  if (dot == std::wstring::npos) {
    return L"";
  }
  const int number = _wtoi(name.substr(underscore + 1, dot - underscore - 1).c_str());
  if (number < 0 || number > kHighestDumpDigit) {
    return L"";
  }
  return L"_" + std::to_wstring(number);
}
}  // namespace

std::wstring DefaultSaveName(const SYSTEMTIME& utc, const wchar_t* groupName) {
  wchar_t name[kNameChars + 1] = {};
  swprintf(name, kNameChars + 1, L"keltra_%02hu%02hu%04hu_%02hu%02hu%02hu", utc.wMonth, utc.wDay, utc.wYear,
           utc.wHour, utc.wMinute, utc.wSecond);
  std::wstring result = name;
  if (groupName != nullptr && groupName[0] != L'\0') {
    std::wstring suffix = L"_";
    suffix += groupName;
    result += suffix.substr(0, kSuffixChars);
  }
  return result.substr(0, kNameChars);
}

std::vector<std::wstring> DumpTargets(const std::wstring& savedPath, const std::vector<std::wstring>& dumpPaths) {
  const size_t slash = savedPath.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : savedPath.substr(0, slash + 1);
  std::wstring base = FileNameOf(savedPath);
  const size_t dot = base.rfind(L'.');
  if (dot != std::wstring::npos) {
    base.erase(dot);
  }
  std::vector<std::wstring> targets;
  std::set<std::wstring> taken;
  for (const std::wstring& dump : dumpPaths) {
    const std::wstring stem = folder + base + DigitSuffix(FileNameOf(dump));
    std::wstring target = stem + L".dump";
    for (int copy = 2; taken.count(target) != 0; ++copy) {
      target = stem + L" (" + std::to_wstring(copy) + L").dump";
    }
    taken.insert(target);
    targets.push_back(target);
  }
  return targets;
}

std::wstring CommandLinePath(const wchar_t* text) {
  if (text == nullptr) {
    return L"";
  }
  while (*text == L'"') {
    ++text;
  }
  std::wstring path(text);
  if (path.size() >= 2 && path.back() == L'"') {
    path.pop_back();
  }
  return path;
}
