#pragma once

// The services checker: the services and drivers Windows starts by itself
// (at boot, with the system, or automatically, delayed or not). A normal
// Windows has a hundred and more, so the place starts from a baseline
// (Decide.h).
//
// They are read from the Services key, not asked of the service manager:
// the key is what the manager reads when Windows starts (a service written
// there directly, or a start type changed there, takes effect at the next
// start, and the manager's own list would not show it until then), it is
// what the watch watches, and a user's rights read it.

#include "User.h"

#include <windows.h>

constexpr wchar_t SERVICES_KEY[] = L"System\\CurrentControlSet\\Services";
// The section of the allowed list; an entry is named by its service's path in it.
constexpr wchar_t SERVICES_SECTION[] = L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
constexpr wchar_t MSG_CANNOT_DISABLE_SERVICE[] = L"Не удалось отключить службу: \"%s\".";

// One service as the checker sees it: its command is the image path, with
// the DLL that a shared process runs for it (Parameters\ServiceDll).
struct TService {
    TWideString name;
    TWideString command;
    TWideString imagePath;
    TWideString dll;
    bool driver = false;
    bool defaultPath = false; // a driver without an image path: its command is where Windows loads it from
};

// The service Name of the open Services key: an entry; no entry (not a
// service or driver, or not started by Windows by itself); or one that is
// there but cannot be read, about which nothing is decided.
enum class TRead { Entry, NoEntry, Unreadable };
TRead ReadService(HKEY services, const TWideString& name, TService& service);

// Every service in the order the key lists them; raises TINIExcept when the
// settings file cannot be read or written.
void CheckServices(TUser& user);

// "Remove": the service's start type set to disabled (4), and put back as
// it was, through the service manager, or in the key where the manager
// does not know it (the key was written directly). It is never deleted: a
// deleted service cannot be put back from a record. On failure the Win32
// error is left in GetLastError(): ERROR_ACCESS_DENIED when the user's
// rights do not reach.
bool SetServiceStart(const TWideString& name, DWORD start);
// The Start value written into the service's key as it is, whatever its
// type and size; the manager reads it at the next start of Windows.
bool SetServiceKeyStart(const TWideString& name, const TRegData& start);
// Puts the Start value a removal found back, through the manager where it
// was a number as the manager writes one, else into the key as it was; only
// while the service is still disabled.
TPutBack PutBackServiceStart(const TWideString& name, const TRegData& start);
