// Saving one section of the allowed list, and looking its records up.
//
// For 100, 1,000 and 10,000 records in a settings file that holds other
// sections too, prints the time per record of SaveAllowedSection and of
// looking every record up with LookupAllowed, the file's section read anew
// before each pass.

#include "AllowedList.h"
#include "BenchSupport.h"
#include "MainState.h"
#include "registry_profile.h"

#include <cstdio>
#include <vector>

namespace {

constexpr wchar_t SECTION[] = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int RUNS = 5;

std::string OtherSections()
{
    std::string text;
    for (const char* section : {"Before", "After"}) {
        text += std::string("[") + section + "]\r\n";
        for (int i = 0; i < 50; ++i) {
            char line[128];
            std::snprintf(line, sizeof(line), "Other%05d=C:\\Other\\%05d.exe\r\n", i, i);
            text += line;
        }
    }
    return text;
}

} // namespace

int main()
{
    const TWideString path = BenchFolder(L"store") + L"\\options.ini";
    SetSettingsFilePath(path);
    std::printf("%8s | %16s | %18s\n", "records", "save, us/record", "lookup, us/record");
    std::printf("---------+------------------+-------------------\n");
    for (const int count : {100, 1000, 10000}) {
        // Made before the clock starts: formatting them costs as much as a lookup.
        std::vector<TWideString> names;
        std::vector<TWideString> commands;
        TWideString records;
        for (int i = 0; i < count; ++i) {
            names.push_back(Name(i));
            commands.push_back(Command(i));
            AppendRecord(records, names.back(), commands.back());
        }
        const double save = BestOf(RUNS, [&] {
            ReplaceFileBytes(path, OtherSections());
            SaveAllowedSection(records, SECTION);
        });
        int found = 0;
        const double lookup = BestOf(RUNS, [&] {
            AllowedListMayHaveChanged();
            found = 0;
            for (int i = 0; i < count; ++i) {
                found += LookupAllowed(SECTION, names[i]) == commands[i] ? 1 : 0;
            }
        });
        if (found != count) {
            std::printf("lookup found %d of %d records\n", found, count);
            return 1;
        }
        std::printf("%8d | %16.1f | %18.1f\n", count, save * 1e6 / count, lookup * 1e6 / count);
    }
    return 0;
}
