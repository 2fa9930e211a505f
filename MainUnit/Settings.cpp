#include "Settings.h"

#include "AllowedList.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "User.h"
#include "registry_profile.h"

#include <windows.h>

namespace {

constexpr wchar_t SETTINGS_FOLDER[] = L"Runwarden";
constexpr wchar_t SETTINGS_FILE[] = L"options.ini";

bool OpenFile(const TWideString& path, DWORD disposition)
{
    TFileHandle file(CreateFileW(path.c_str(), 0, 0, nullptr, disposition, 0, nullptr));
    return file.Valid();
}

} // namespace

TWideString GetSettingsPath()
{
    const TWideString appData = ReadRegString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, L"AppData");
    TWideString folder;
    TWideString path;
    if (appData.empty()) {
        folder = GetProgramFolder();
        path = folder + SETTINGS_FILE;
    } else {
        folder = appData + L"\\" + SETTINGS_FOLDER;
        path = folder + L"\\" + SETTINGS_FILE;
    }
    if (!SettingsFileExists(path) && !CreateSettingsFile(folder, SETTINGS_FILE)) {
        ShowWarning(FormatMsg(MSG_CANNOT_OPEN_FILE, {Visible(path)}));
    }
    return path;
}

bool SettingsFileExists(const TWideString& path)
{
    // A directory of that name does not open without backup semantics.
    return OpenFile(path, OPEN_EXISTING);
}

bool CreateSettingsFile(const TWideString& folder, const TWideString& fileName)
{
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    return OpenFile(folder + L"\\" + fileName, CREATE_NEW);
}

TWideString GetProgramFolder()
{
    const TWideString& own = OwnCommand();
    return own.find(L'\\') == TWideString::npos ? TWideString() : ParentPath(own) + L"\\";
}
