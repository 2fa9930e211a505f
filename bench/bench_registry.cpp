// A registry check over the current user's Run key when every value is in
// the allowed list (no question is asked), against a floor measured in the
// same program: a bare RegEnumValueW walk over the same values plus one read
// of the key's section. The check runs in this process, so the figures leave
// out what a process of its own adds (bench_once has that). The other places
// are empty, as the suite leaves them.

#include "AllowedList.h"
#include "BenchSupport.h"
#include "CheckRegistryUnit.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <cstdio>
#include <vector>

namespace {

constexpr wchar_t RUN_PATH[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t SECTION[] = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int RUNS = 5;

void EmptyKey(HKEY root, const wchar_t* path)
{
    RegDeleteTreeW(root, path);
    TRegKey key;
    RegCreateKeyW(root, path, key.Receive());
}

void FillRunKey(int count)
{
    EmptyKey(HKEY_CURRENT_USER, RUN_PATH);
    TRegKey key;
    RegOpenKeyExW(HKEY_CURRENT_USER, RUN_PATH, 0, KEY_WRITE, key.Receive());
    for (int i = 0; i < count; ++i) {
        const TWideString command = Command(i);
        RegSetValueExW(key.Get(), Name(i).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
}

void Floor(const TWideString& path)
{
    TRegKey key;
    RegOpenKeyExW(HKEY_CURRENT_USER, RUN_PATH, 0, KEY_READ, key.Receive());
    DWORD count = 0;
    DWORD maxName = 0;
    DWORD maxData = 0;
    RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName, &maxData,
                     nullptr, nullptr);
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, nullptr, data.data(), &dataLength)
            != ERROR_SUCCESS) {
            break;
        }
    }
    std::string bytes;
    ReadFileBytes(path, bytes);
}

} // namespace

int main()
{
    const TWideString path = BenchFolder(L"registry") + L"\\options.ini";
    SetSettingsFilePath(path);
    SetOwnCommands(L"C:\\Runwarden\\Runwarden.exe");
    // Every other place empty, as the suite leaves them.
    QuietAutostart(Spell(BenchFolder(L"registry")));
    std::printf("%8s | %14s | %14s | %6s | %15s\n", "values", "check, ms", "floor, ms", "ratio", "check, us/value");
    std::printf("---------+----------------+----------------+--------+----------------\n");
    for (const int count : {100, 1000, 10000}) {
        FillRunKey(count);
        TWideString records;
        for (int i = 0; i < count; ++i) {
            AppendRecord(records, Name(i), Command(i));
        }
        SaveAllowedSection(records, SECTION);
        TCountingUser user;
        // Untimed: takes the baselines of the places Windows fills by itself.
        CheckRegistry(user);
        std::string before;
        ReadFileBytes(path, before);
        std::string after;
        const double floor = BestOf(RUNS, [&] { Floor(path); });
        const double check = BestOf(RUNS, [&] { CheckRegistry(user); });
        if (!ReadFileBytes(path, after) || after != before || user.asked != 0) {
            std::printf("the check asked or changed the allowed list\n");
            return 1;
        }
        std::printf("%8d | %14.1f | %14.1f | %6.1f | %15.1f\n", count, check * 1e3, floor * 1e3, check / floor,
                    check * 1e6 / count);
    }
    EmptyKey(HKEY_CURRENT_USER, RUN_PATH);
    return 0;
}
