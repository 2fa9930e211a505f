#include "TaskScheduler.h"

#include "Com.h"
#include "ScopedHandle.h"
#include "TaskDefinition.h"

#include <objbase.h>
#include <taskschd.h>

#include <algorithm>

namespace {

constexpr int MAX_FOLDER_DEPTH = 64; // task folders nest a few levels
const GUID TASK_SCHEDULER_CLASS = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};

// The API's strings, from oleaut32, loaded once when the scheduler is first
// needed, and kept.
struct TCom {
    HMODULE oleaut32 = nullptr;
    decltype(&SysAllocString) allocString = nullptr;
    decltype(&SysFreeString) freeString = nullptr;
};

TCom com;

bool LoadCom()
{
    if (com.oleaut32 == nullptr) {
        com.oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
        com.allocString = ProcAddress<decltype(&SysAllocString)>(com.oleaut32, "SysAllocString");
        com.freeString = ProcAddress<decltype(&SysFreeString)>(com.oleaut32, "SysFreeString");
    }
    return com.allocString != nullptr && com.freeString != nullptr;
}

struct TBstrTraits {
    using Type = BSTR;
    static BSTR Invalid() { return nullptr; }
    static void Close(BSTR text) { com.freeString(text); }
};
using TBstr = TScopedHandle<TBstrTraits>;
using TFolder = TScopedHandle<TComTraits<ITaskFolder>>;

TBstr Bstr(const TWideString& text) { return TBstr(com.allocString != nullptr ? com.allocString(text.c_str()) : nullptr); }

TWideString Text(const TBstr& text) { return text.Valid() ? TWideString(text.Get()) : TWideString(); }

// A connection to the scheduler's service for as long as it lives.
class TScheduler {
public:
    TScheduler()
    {
        VARIANT none = {};
        connected_ = LoadCom()
            && SUCCEEDED(apartment_.Create(TASK_SCHEDULER_CLASS, __uuidof(ITaskService), reinterpret_cast<void**>(service_.Receive())))
            && SUCCEEDED(service_.Get()->Connect(none, none, none, none));
    }
    TScheduler(const TScheduler&) = delete;
    TScheduler& operator=(const TScheduler&) = delete;

    HRESULT Folder(const TWideString& path, TFolder& folder)
    {
        const TBstr name = Bstr(path);
        return connected_ ? service_.Get()->GetFolder(name.Get(), folder.Receive()) : E_FAIL;
    }

private:
    // The service is let go of before the apartment ends.
    TApartment apartment_;
    bool connected_ = false;
    TScopedHandle<TComTraits<ITaskService>> service_;
};

// A task's definition as the API gives it, in UTF-16 with its byte-order
// mark, as Windows exports one.
std::string Definition(const TBstr& xml) { return Utf16Bytes(L"\xFEFF" + Text(xml)); }

// The tasks of one folder through the API; false where its collection is
// not implemented (Wine).
bool ReadFolderTasks(ITaskFolder* folder, std::vector<TTaskFile>& tasks)
{
    TScopedHandle<TComTraits<IRegisteredTaskCollection>> collection;
    LONG count = 0;
    if (FAILED(folder->GetTasks(TASK_ENUM_HIDDEN, collection.Receive())) || FAILED(collection.Get()->get_Count(&count))) {
        return false;
    }
    for (LONG i = 1; i <= count; ++i) {
        VARIANT index = {};
        index.vt = VT_I4;
        index.lVal = i;
        TScopedHandle<TComTraits<IRegisteredTask>> task;
        TBstr path;
        TBstr xml;
        if (SUCCEEDED(collection.Get()->get_Item(index, task.Receive())) && SUCCEEDED(task.Get()->get_Path(path.Receive()))) {
            const bool readable = SUCCEEDED(task.Get()->get_Xml(xml.Receive()));
            tasks.push_back({Text(path), readable ? Definition(xml) : std::string(), TWideString(), readable});
        }
    }
    return true;
}

bool ReadApiTasks(ITaskFolder* folder, std::vector<TTaskFile>& tasks, int depth)
{
    TScopedHandle<TComTraits<ITaskFolderCollection>> folders;
    LONG count = 0;
    if (!ReadFolderTasks(folder, tasks) || depth > MAX_FOLDER_DEPTH || FAILED(folder->GetFolders(0, folders.Receive()))
        || FAILED(folders.Get()->get_Count(&count))) {
        return depth > 0;
    }
    for (LONG i = 1; i <= count; ++i) {
        VARIANT index = {};
        index.vt = VT_I4;
        index.lVal = i;
        TFolder sub;
        if (SUCCEEDED(folders.Get()->get_Item(index, sub.Receive()))) {
            ReadApiTasks(sub.Get(), tasks, depth + 1);
        }
    }
    return true;
}

// The store's files below Folder, a task each; its folders, task folders.
// A folder that is a link is not followed: a loop of them never ends.
void ReadStoreTasks(const TWideString& folder, const TWideString& path, std::vector<TTaskFile>& tasks, int depth)
{
    WIN32_FIND_DATAW data;
    for (TFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data)); find.Valid();) {
        const TWideString name = data.cFileName;
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (directory && !link && name != L"." && name != L".." && depth < MAX_FOLDER_DEPTH) {
            ReadStoreTasks(folder + L"\\" + name, path + L"\\" + name, tasks, depth + 1);
        } else if (!directory) {
            TTaskFile task = {path + L"\\" + name, std::string(), folder + L"\\" + name};
            task.readable = ReadFileBytes(task.file, task.definition);
            tasks.push_back(task);
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
}

} // namespace

bool IsTaskPath(const TWideString& path)
{
    if (path.size() < 2 || path[0] != L'\\' || path.find(L'/') != TWideString::npos) {
        return false;
    }
    for (std::size_t start = 1; start <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const TWideString name = path.substr(start, end - start);
        if (name.empty() || name == L"." || name == L"..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

TStore TaskStore(TWideString& folder)
{
    const TWideString system = SystemFolder();
    if (system.empty()) {
        folder.clear();
        return TStore::Closed;
    }
    folder = NativePath(system + L"\\Tasks");
    WIN32_FIND_DATAW data;
    const TFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    const DWORD error = find.Valid() ? ERROR_SUCCESS : GetLastError();
    return find.Valid() ? TStore::Readable
        : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TStore::Missing
                                                                        : TStore::Closed;
}

bool ReadAllTasks(std::vector<TTaskFile>& tasks)
{
    tasks.clear();
    TWideString store;
    switch (TaskStore(store)) {
    case TStore::Readable:
        // Task folders may nest beyond MAX_PATH.
        ReadStoreTasks(L"\\\\?\\" + store, TWideString(), tasks, 0);
        // In the order of their paths, as Windows lists them, whatever
        // order the file system gives.
        std::sort(tasks.begin(), tasks.end(), [](const TTaskFile& a, const TTaskFile& b) {
            return CompareStringOrdinal(a.path.data(), static_cast<int>(a.path.size()), b.path.data(),
                                        static_cast<int>(b.path.size()), TRUE)
                == CSTR_LESS_THAN;
        });
        return true;
    case TStore::Missing:
        return true;
    case TStore::Closed:
        break;
    }
    TScheduler scheduler;
    TFolder root;
    return SUCCEEDED(scheduler.Folder(L"\\", root)) && ReadApiTasks(root.Get(), tasks, 0);
}

bool ReadOneTask(const TWideString& path, std::string& definition)
{
    if (!IsTaskPath(path)) {
        return false;
    }
    TWideString store;
    const TStore state = TaskStore(store);
    if (state == TStore::Missing) {
        return false;
    }
    if (state == TStore::Readable) {
        const TWideString file = L"\\\\?\\" + store + path;
        const DWORD attributes = GetFileAttributesW(file.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
            && ReadFileBytes(file, definition) && !definition.empty();
    }
    TScheduler scheduler;
    TFolder root;
    TScopedHandle<TComTraits<IRegisteredTask>> task;
    TBstr xml;
    const TBstr name = Bstr(path);
    if (FAILED(scheduler.Folder(L"\\", root)) || FAILED(root.Get()->GetTask(name.Get(), task.Receive()))
        || FAILED(task.Get()->get_Xml(xml.Receive()))) {
        return false;
    }
    definition = Definition(xml);
    return true;
}

bool DeleteScheduledTask(const TWideString& path, HRESULT& result)
{
    if (!IsTaskPath(path)) {
        result = E_INVALIDARG;
        return false;
    }
    TWideString store;
    if (!Win32SpellsExactly(path.substr(1)) && TaskStore(store) == TStore::Readable) {
        const bool deleted = DeleteFileW((L"\\\\?\\" + store + path).c_str()) != FALSE;
        result = deleted ? S_OK : HRESULT_FROM_WIN32(GetLastError());
        return deleted;
    }
    TScheduler scheduler;
    TFolder folder;
    const std::size_t slash = path.rfind(L'\\');
    const TWideString parent = slash == 0 ? TWideString(L"\\") : path.substr(0, slash);
    const TBstr name = Bstr(path.substr(slash + 1));
    result = scheduler.Folder(parent, folder);
    if (SUCCEEDED(result)) {
        result = folder.Get()->DeleteTask(name.Get(), 0);
    }
    // Wine's scheduler says it deleted a task whose file it could not delete.
    std::string left;
    if (SUCCEEDED(result) && ReadOneTask(path, left)) {
        result = E_FAIL;
    }
    return SUCCEEDED(result);
}

namespace {

// The task's command as the checker reads it; empty when Definition is no task.
TWideString TaskCommand(const std::string& definition)
{
    TTaskDefinition read;
    return ReadTaskDefinition(definition, read) ? read.command : TWideString();
}

// Writes the definition as the task's file in a store this process can
// write, its task folders made where missing.
bool WriteStoreTask(const TWideString& path, const std::string& definition)
{
    TWideString store;
    if (TaskStore(store) == TStore::Closed) {
        return false;
    }
    const TWideString file = L"\\\\?\\" + store + path;
    for (std::size_t slash = file.find(L'\\', 4 + store.size()); slash != TWideString::npos; slash = file.find(L'\\', slash + 1)) {
        CreateDirectoryW(file.substr(0, slash).c_str(), nullptr);
    }
    return WriteNewFile(file, definition) || ReplaceFileBytes(file, definition);
}

} // namespace

TPutBack PutBackScheduledTask(const TWideString& path, const std::string& definition)
{
    const TWideString command = TaskCommand(definition);
    std::string now;
    if (!IsTaskPath(path) || command.empty()) {
        return TPutBack::Failed;
    }
    if (ReadOneTask(path, now)) {
        return TaskCommand(now) == command ? TPutBack::Done : TPutBack::Taken;
    }
    // The scheduler takes the definition as Windows exports one, UTF-16 with its mark.
    const bool utf16 = definition.size() >= 2 && definition.compare(0, 2, "\xFF\xFE") == 0 && definition.size() % 2 == 0;
    const TWideString xml = utf16 ? TWideString(reinterpret_cast<const wchar_t*>(definition.data()) + 1, definition.size() / 2 - 1)
                                  : TWideString();
    TScheduler scheduler;
    TFolder root;
    TScopedHandle<TComTraits<IRegisteredTask>> task;
    const TBstr name = Bstr(path);
    const TBstr text = Bstr(xml);
    VARIANT none = {};
    const bool registered = utf16 && SUCCEEDED(scheduler.Folder(L"\\", root))
        && SUCCEEDED(root.Get()->RegisterTask(name.Get(), text.Get(), TASK_CREATE, none, none, TASK_LOGON_NONE, none, task.Receive()));
    // Wine's scheduler keeps a task without its actions: the file the checker reads is written as it was kept.
    if (registered && ReadOneTask(path, now) && TaskCommand(now) == command) {
        return TPutBack::Done;
    }
    if (WriteStoreTask(path, definition) && ReadOneTask(path, now) && TaskCommand(now) == command) {
        return TPutBack::Done;
    }
    // Nothing is left half put back: a task without its actions is no task the user had.
    HRESULT result = S_OK;
    if (registered) {
        DeleteScheduledTask(path, result);
    }
    return TPutBack::Failed;
}
