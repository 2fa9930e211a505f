// Saving one section of the allowed list, and looking its records up.
//
// For 100, 1,000 and 10,000 records in a settings file that holds other
// sections too, prints the time per record of SaveAllowedSection, of looking
// every record up with ReadINIString, and of the same save done with one
// profile write per record.

#include "AllowedList.h"
#include "BenchSupport.h"
#include "MainState.h"
#include "registry_profile.h"

#include <cstdio>

namespace {

constexpr char SECTION[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int RUNS = 5;

void WriteOtherSections(const std::string& path)
{
    std::string text;
    for (const char* section : {"Before", "After"}) {
        text += std::string("[") + section + "]\r\n";
        for (int i = 0; i < 50; ++i) {
            text += Name(i) + "=" + Command(i) + "\r\n";
        }
    }
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

double OneWritePerRecord(const std::string& path, int count)
{
    return BestOf(1, [&] {
        EraseINISection(path, SECTION);
        for (int i = 0; i < count; ++i) {
            WriteINIString(path, SECTION, Name(i), Command(i));
        }
    });
}

} // namespace

int main()
{
    const std::string path = BenchFolder("store") + "\\options.ini";
    SetSettingsFilePath(path);
    std::printf("%8s | %16s | %18s | %22s\n", "records", "save, us/record", "lookup, us/record",
                "write each, us/record");
    std::printf("---------+------------------+--------------------+-----------------------\n");
    for (const int count : {100, 1000, 10000}) {
        std::string records;
        for (int i = 0; i < count; ++i) {
            AppendRecord(records, Name(i), Command(i));
        }
        WriteOtherSections(path);
        const double save = BestOf(RUNS, [&] { SaveAllowedSection(records, SECTION); });
        int found = 0;
        const double lookup = BestOf(RUNS, [&] {
            found = 0;
            for (int i = 0; i < count; ++i) {
                found += ReadINIString(path, SECTION, Name(i), "") == Command(i) ? 1 : 0;
            }
        });
        if (found != count) {
            std::printf("lookup found %d of %d records\n", found, count);
            return 1;
        }
        // The write-per-record baseline grows with the square of the count;
        // at 10,000 it would take minutes.
        char baseline[32] = "-";
        if (count <= 1000) {
            WriteOtherSections(path);
            std::snprintf(baseline, sizeof(baseline), "%.1f", OneWritePerRecord(path, count) * 1e6 / count);
        }
        std::printf("%8d | %16.1f | %18.1f | %22s\n", count, save * 1e6 / count, lookup * 1e6 / count, baseline);
    }
    return 0;
}
