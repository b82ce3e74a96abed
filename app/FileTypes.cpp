#include "app/Startup.h"

#include <string>

namespace {

// Owns one open registry key.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    bool Open(const std::wstring& path, REGSAM access) {
        return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, access, &key_) == ERROR_SUCCESS;
    }
    bool Create(const std::wstring& path) {
        return RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_,
                               nullptr) == ERROR_SUCCESS;
    }
    void SetDefault(const std::wstring& value) {
        RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace

void RegisterFileType(int makeDefault, const wchar_t* extension, const wchar_t* programPath,
                      const wchar_t* progId, const wchar_t* description) {
    if (!makeDefault) {
        RegKey existing;
        if (existing.Open(extension, KEY_READ)) {
            return;  // another program's association stays
        }
    }
    RegKey extKey;
    if (extKey.Create(extension)) {
        extKey.SetDefault(progId);
    }
    RegKey progKey;
    if (!progKey.Create(progId)) {
        return;
    }
    progKey.SetDefault(description);
    RegKey iconKey;
    if (iconKey.Create(std::wstring(progId) + L"\\DefaultIcon")) {
        iconKey.SetDefault(L"");
    }
    RegKey commandKey;
    if (!commandKey.Create(std::wstring(progId) + L"\\Shell\\Open\\Command")) {
        return;
    }
    commandKey.SetDefault(L"\"" + std::wstring(programPath) + L"\" \"%1\"");
}
