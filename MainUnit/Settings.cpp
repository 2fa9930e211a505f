#include "Settings.h"

#include "AllowedList.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "User.h"
#include "registry_profile.h"

#include <windows.h>

namespace {

constexpr char SETTINGS_FOLDER[] = "Runwarden";
constexpr char SETTINGS_FILE[] = "options.ini";

bool OpenFile(const std::string& path, DWORD disposition)
{
    TFileHandle file(CreateFileA(path.c_str(), 0, 0, nullptr, disposition, 0, nullptr));
    return file.Valid();
}

} // namespace

std::string GetSettingsPath()
{
    const std::string appData = ReadRegString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "AppData");
    std::string folder;
    std::string path;
    if (appData.empty()) {
        folder = GetProgramFolder();
        path = folder + SETTINGS_FILE;
    } else {
        folder = appData + "\\" + SETTINGS_FOLDER;
        path = folder + "\\" + SETTINGS_FILE;
    }
    if (!SettingsFileExists(path) && !CreateSettingsFile(folder, SETTINGS_FILE)) {
        ShowWarning(FormatMsg(MSG_CANNOT_OPEN_FILE, {path}));
    }
    return path;
}

bool SettingsFileExists(const std::string& path)
{
    // A directory of that name does not open without backup semantics.
    return OpenFile(path, OPEN_EXISTING);
}

bool CreateSettingsFile(const std::string& folder, const std::string& fileName)
{
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    return OpenFile(folder + "\\" + fileName, CREATE_NEW);
}

std::string GetProgramFolder()
{
    const std::string& own = OwnCommand();
    const std::string::size_type slash = own.rfind('\\');
    return slash == std::string::npos ? std::string() : own.substr(0, slash + 1);
}
