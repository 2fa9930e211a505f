#include "Identity.h"

#include "FileFacts.h"
#include "ProgramPath.h"
#include "ScopedHandle.h"

#include <map>
#include <memory>

namespace {

// A question shows this many files at most: a command that names more is
// an odd one, and the question must stay on its screen.
constexpr std::size_t MAX_FILES = 4;
constexpr wchar_t LINE_BREAK[] = L"\r\n";

// What is known of one file, as it was when it was looked at.
struct TFacts {
    ULONGLONG size = 0;
    FILETIME written = {};
    bool hasVersion = false;
    TVersionFacts version;
    bool writable = false;
    bool signatureChecked = false;
    TSignatureFacts signature;
    HANDLE checking = nullptr; // the thread that checks the signature, while it runs
};

// Shared with the threads that check signatures: every access under the lock.
struct TCache {
    SRWLOCK lock = SRWLOCK_INIT;
    std::map<TWideString, TFacts> facts; // by path, letter case as found
    HWND window = nullptr;
    UINT message = 0;
};

TCache cache;

class TExclusive {
public:
    TExclusive() { AcquireSRWLockExclusive(&cache.lock); }
    ~TExclusive() { ReleaseSRWLockExclusive(&cache.lock); }
    TExclusive(const TExclusive&) = delete;
    TExclusive& operator=(const TExclusive&) = delete;
};

bool SameStamp(const TFacts& facts, const WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return facts.size == (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow)
        && CompareFileTime(&facts.written, &data.ftLastWriteTime) == 0;
}

struct TCheckJob {
    TWideString path;
    ULONGLONG size;
    FILETIME written;
};

DWORD WINAPI CheckSignatureThread(void* parameter)
{
    const std::unique_ptr<TCheckJob> job(static_cast<TCheckJob*>(parameter));
    const TSignatureFacts signature = CheckSignature(NativePath(job->path));
    HWND window = nullptr;
    UINT message = 0;
    {
        const TExclusive locked;
        const auto found = cache.facts.find(job->path);
        // The file changed meanwhile: its new facts are another check's.
        if (found != cache.facts.end() && found->second.size == job->size
            && CompareFileTime(&found->second.written, &job->written) == 0) {
            found->second.signature = signature;
            found->second.signatureChecked = true;
        }
        window = cache.window;
        message = cache.message;
    }
    if (window != nullptr) {
        PostMessageW(window, message, 0, 0);
    }
    return 0;
}

// The facts of the file, looked up where they are not known for its size
// and last write time; its signature's check started where it is not known
// nor running. Checking: the thread that checks it, if one runs (a handle
// of the caller's own, to wait on).
TFacts LookUp(const TWideString& path, HANDLE& checking)
{
    checking = nullptr;
    // Entries name files as 64-bit Windows starts them.
    const TWideString native = NativePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) {
        return TFacts();
    }
    {
        const TExclusive locked;
        const auto found = cache.facts.find(path);
        if (found != cache.facts.end() && SameStamp(found->second, data)) {
            if (found->second.checking != nullptr && !found->second.signatureChecked) {
                DuplicateHandle(GetCurrentProcess(), found->second.checking, GetCurrentProcess(), &checking, SYNCHRONIZE,
                                FALSE, 0);
            }
            return found->second;
        }
    }
    // Looked up outside the lock: a signature thread may want it meanwhile.
    TFacts facts;
    facts.size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    facts.written = data.ftLastWriteTime;
    facts.hasVersion = ReadVersionFacts(native, facts.version);
    facts.writable = IsUserWritable(native);
    const TExclusive locked;
    TFacts& kept = cache.facts[path];
    if (kept.checking != nullptr) {
        CloseHandle(kept.checking);
    }
    kept = facts;
    const HANDLE thread =
        CreateThread(nullptr, 0, CheckSignatureThread, new TCheckJob{path, facts.size, facts.written}, 0, nullptr);
    kept.checking = thread;
    if (thread == nullptr) {
        // No thread to be had: the signature stays unknown, never falsely checked.
        kept.signatureChecked = false;
    } else {
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &checking, SYNCHRONIZE, FALSE, 0);
    }
    return kept;
}

TWideString SignatureLine(const TFacts& facts)
{
    if (!facts.signatureChecked) {
        return MSG_SIGNATURE_CHECKING;
    }
    const TSignatureFacts& signature = facts.signature;
    switch (signature.state) {
    case TSignatureState::Trusted:
        return FormatMsg(MSG_SIGNATURE_TRUSTED, {Visible(signature.signer)});
    case TSignatureState::Untrusted: {
        // A file that could not be opened for the check (held without
        // sharing, say) has no signature to speak of.
        if (signature.reason == TUntrustedReason::Other && signature.signer.empty()) {
            return MSG_SIGNATURE_UNCHECKED;
        }
        const wchar_t* reason = signature.reason == TUntrustedReason::UntrustedRoot ? WHY_UNTRUSTED_ROOT
            : signature.reason == TUntrustedReason::Expired                         ? WHY_EXPIRED
            : signature.reason == TUntrustedReason::Changed                         ? WHY_CHANGED
                                                                                    : WHY_OTHER;
        return FormatMsg(MSG_SIGNATURE_UNTRUSTED, {reason})
            + (signature.signer.empty() ? TWideString() : FormatMsg(MSG_SIGNER, {Visible(signature.signer)}));
    }
    case TSignatureState::Unsigned:
        break;
    }
    return MSG_SIGNATURE_NONE;
}

TWideString Block(const TProgramFile& file, const TFacts& facts)
{
    if (!file.found) {
        return FormatMsg(file.remote ? MSG_REMOTE_FILE : MSG_FILE_NOT_FOUND, {Visible(file.path)});
    }
    TWideString block = FormatMsg(MSG_PROGRAM, {Visible(file.path)});
    const TVersionFacts& version = facts.version;
    for (const auto& line : {std::make_pair(MSG_DESCRIPTION, &version.description), std::make_pair(MSG_COMPANY, &version.company),
                             std::make_pair(MSG_VERSION, &version.version)}) {
        if (facts.hasVersion && !line.second->empty()) {
            block += LINE_BREAK + FormatMsg(line.first, {Visible(*line.second)});
        }
    }
    block += LINE_BREAK + SignatureLine(facts);
    if (facts.writable) {
        block += LINE_BREAK + TWideString(MSG_USER_WRITABLE);
    }
    return block;
}

// Waits for the checks that run, until Due at most; closes their handles.
void WaitForChecks(const std::vector<HANDLE>& checks, DWORD waitMs)
{
    const ULONGLONG due = GetTickCount64() + (waitMs == INFINITE ? 0 : waitMs);
    for (const HANDLE check : checks) {
        if (check == nullptr) {
            continue;
        }
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(check, waitMs == INFINITE ? INFINITE : static_cast<DWORD>(due > now ? due - now : 0));
        CloseHandle(check);
    }
}

} // namespace

TWideString IdentityText(const std::vector<TStartItem>& starts, DWORD waitMs)
{
    const std::vector<TProgramFile> files = ProgramFiles(starts);
    std::vector<HANDLE> checks;
    for (const TProgramFile& file : files) {
        HANDLE checking = nullptr;
        if (file.found) {
            LookUp(file.path, checking);
        }
        if (checking != nullptr) {
            checks.push_back(checking);
        }
    }
    WaitForChecks(checks, waitMs);
    TWideString text;
    for (const TProgramFile& file : files) {
        HANDLE checking = nullptr;
        const TFacts facts = file.found ? LookUp(file.path, checking) : TFacts();
        WaitForChecks({checking}, 0);
        text += (text.empty() ? L"" : TWideString(LINE_BREAK) + LINE_BREAK) + Block(file, facts);
    }
    return text;
}

void NotifyWhenChecked(HWND window, UINT message)
{
    const TExclusive locked;
    cache.window = window;
    cache.message = message;
}

std::vector<TProgramFile> ProgramFiles(const std::vector<TStartItem>& starts)
{
    std::vector<TProgramFile> files;
    for (const TStartItem& item : starts) {
        const std::vector<TProgramFile> found = item.kind == TStartKind::CommandLine ? CommandFiles(item.text)
            : item.kind == TStartKind::EntryFile                                      ? EntryFileFiles(item.text)
                                                                                      : LibraryFiles(item.text);
        for (const TProgramFile& file : found) {
            bool known = false;
            for (const TProgramFile& other : files) {
                known = known || SamePath(other.path, file.path);
            }
            if (!known && files.size() < MAX_FILES) {
                files.push_back(file);
            }
        }
    }
    return files;
}
