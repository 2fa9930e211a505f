#include "FileFacts.h"

#include "ScopedHandle.h"

// wintrust.h brings wincrypt.h, which mscat.h needs first.
#include <wintrust.h>

#include <mscat.h>
#include <softpub.h>
#include <winver.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

// Every text of a version resource or a certificate is the file maker's
// own: it is kept to a length the question can show.
constexpr std::size_t MAX_FACT_LENGTH = 1000;
constexpr DWORD FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD;
// A file whose resource has no translation table most often has its strings
// under US English, in Unicode or in code page 1252.
constexpr DWORD FALLBACK_TRANSLATIONS[] = {0x040904B0, 0x040904E4};
const HWND NO_WINDOW = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);

// The DLLs are loaded when a question first needs them; C++ initialises a
// function's static once, whichever thread comes first, and the others wait
// for it, so checks on other threads share the pointers safely.
struct TVersionDll {
    decltype(&GetFileVersionInfoSizeW) size = nullptr;
    decltype(&GetFileVersionInfoW) read = nullptr;
    decltype(&VerQueryValueW) query = nullptr;
};

const TVersionDll& VersionDll()
{
    static const TVersionDll dll = [] {
        const HMODULE module = LoadSystemLibrary(L"version.dll");
        TVersionDll loaded;
        loaded.size = ProcAddress<decltype(&GetFileVersionInfoSizeW)>(module, "GetFileVersionInfoSizeW");
        loaded.read = ProcAddress<decltype(&GetFileVersionInfoW)>(module, "GetFileVersionInfoW");
        loaded.query = ProcAddress<decltype(&VerQueryValueW)>(module, "VerQueryValueW");
        return loaded;
    }();
    return dll;
}

struct TTrustDlls {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
    decltype(&CryptCATAdminAcquireContext) acquireCatalogs = nullptr;
    decltype(&CryptCATAdminCalcHashFromFileHandle) hash = nullptr;
    // Windows 8 and later: their own files are listed in the catalogues by
    // SHA-256 hashes only.
    decltype(&CryptCATAdminAcquireContext2) acquireCatalogs2 = nullptr;
    decltype(&CryptCATAdminCalcHashFromFileHandle2) hash2 = nullptr;
    decltype(&CryptCATAdminEnumCatalogFromHash) findCatalog = nullptr;
    decltype(&CryptCATCatalogInfoFromContext) catalogInfo = nullptr;
    decltype(&CryptCATAdminReleaseCatalogContext) releaseCatalog = nullptr;
    decltype(&CryptCATAdminReleaseContext) releaseCatalogs = nullptr;
    decltype(&CertGetNameStringW) certificateName = nullptr;

    bool Loaded() const
    {
        return verify != nullptr && providerData != nullptr && signer != nullptr && acquireCatalogs != nullptr
            && hash != nullptr && findCatalog != nullptr && catalogInfo != nullptr && releaseCatalog != nullptr
            && releaseCatalogs != nullptr && certificateName != nullptr;
    }
};

const TTrustDlls& TrustDlls()
{
    static const TTrustDlls dlls = [] {
        const HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
        const HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
        TTrustDlls loaded;
        loaded.verify = ProcAddress<decltype(&WinVerifyTrust)>(wintrust, "WinVerifyTrust");
        loaded.providerData = ProcAddress<decltype(&WTHelperProvDataFromStateData)>(wintrust, "WTHelperProvDataFromStateData");
        loaded.signer = ProcAddress<decltype(&WTHelperGetProvSignerFromChain)>(wintrust, "WTHelperGetProvSignerFromChain");
        loaded.acquireCatalogs = ProcAddress<decltype(&CryptCATAdminAcquireContext)>(wintrust, "CryptCATAdminAcquireContext");
        loaded.hash = ProcAddress<decltype(&CryptCATAdminCalcHashFromFileHandle)>(wintrust, "CryptCATAdminCalcHashFromFileHandle");
        loaded.acquireCatalogs2 = ProcAddress<decltype(&CryptCATAdminAcquireContext2)>(wintrust, "CryptCATAdminAcquireContext2");
        loaded.hash2 = ProcAddress<decltype(&CryptCATAdminCalcHashFromFileHandle2)>(wintrust, "CryptCATAdminCalcHashFromFileHandle2");
        loaded.findCatalog = ProcAddress<decltype(&CryptCATAdminEnumCatalogFromHash)>(wintrust, "CryptCATAdminEnumCatalogFromHash");
        loaded.catalogInfo = ProcAddress<decltype(&CryptCATCatalogInfoFromContext)>(wintrust, "CryptCATCatalogInfoFromContext");
        loaded.releaseCatalog = ProcAddress<decltype(&CryptCATAdminReleaseCatalogContext)>(wintrust, "CryptCATAdminReleaseCatalogContext");
        loaded.releaseCatalogs = ProcAddress<decltype(&CryptCATAdminReleaseContext)>(wintrust, "CryptCATAdminReleaseContext");
        loaded.certificateName = ProcAddress<decltype(&CertGetNameStringW)>(crypt32, "CertGetNameStringW");
        return loaded;
    }();
    return dlls;
}

// A text the file's maker wrote, up to its first zero.
TWideString MakerText(const wchar_t* text, std::size_t length)
{
    return TWideString(text, wcsnlen(text, std::min(length, MAX_FACT_LENGTH)));
}

class TVersionBlock {
public:
    explicit TVersionBlock(const TVersionDll& dll) : dll_(dll) {}

    bool Read(const TWideString& path)
    {
        DWORD unused = 0;
        const DWORD size = dll_.size(path.c_str(), &unused);
        block_.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        return size > 0 && dll_.read(path.c_str(), 0, size, block_.data());
    }
    // The value and its length in units of Unit bytes (characters for a
    // string), as much of it as is within the block; false when the block
    // has no such value.
    bool Query(const TWideString& name, const BYTE*& value, std::size_t& length, std::size_t unit = 1) const
    {
        void* found = nullptr;
        UINT claimed = 0;
        if (!dll_.query(block_.data(), name.c_str(), &found, &claimed) || found == nullptr) {
            return false;
        }
        const BYTE* begin = reinterpret_cast<const BYTE*>(block_.data());
        const BYTE* end = begin + block_.size() * sizeof(DWORD);
        value = static_cast<const BYTE*>(found);
        length = value >= begin && value < end ? std::min<std::size_t>(claimed, (end - value) / unit) : 0;
        return length > 0;
    }
    TWideString String(DWORD translation, const wchar_t* name) const
    {
        TWideString path = L"\\StringFileInfo\\";
        AppendHex(path, translation, 8);
        path += L"\\";
        path += name;
        const BYTE* value = nullptr;
        std::size_t length = 0;
        return Query(path, value, length, sizeof(wchar_t)) ? MakerText(reinterpret_cast<const wchar_t*>(value), length)
                                                           : TWideString();
    }

private:
    const TVersionDll& dll_;
    std::vector<DWORD> block_; // VerQueryValueW reads it as aligned structures
};

// WinVerifyTrust keeps what it learnt until it is told to close it.
class TTrustState {
public:
    TTrustState(const TTrustDlls& dlls, WINTRUST_DATA& data) : dlls_(dlls), data_(data) {}
    ~TTrustState()
    {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        dlls_.verify(NO_WINDOW, &action, &data_);
    }
    TTrustState(const TTrustState&) = delete;
    TTrustState& operator=(const TTrustState&) = delete;

private:
    const TTrustDlls& dlls_;
    WINTRUST_DATA& data_;
};

struct TCatalogAdminTraits {
    using Type = HCATADMIN;
    static HCATADMIN Invalid() { return nullptr; }
    static void Close(HCATADMIN admin) { TrustDlls().releaseCatalogs(admin, 0); }
};
using TCatalogAdmin = TScopedHandle<TCatalogAdminTraits>;

class TCatalog {
public:
    TCatalog(HCATADMIN admin, HCATINFO catalog) : admin_(admin), catalog_(catalog) {}
    ~TCatalog()
    {
        if (catalog_ != nullptr) {
            TrustDlls().releaseCatalog(admin_, catalog_, 0);
        }
    }
    TCatalog(const TCatalog&) = delete;
    TCatalog& operator=(const TCatalog&) = delete;
    HCATINFO Get() const { return catalog_; }

private:
    HCATADMIN admin_;
    HCATINFO catalog_;
};

// Windows 8 added the catalogue context to the structure: WinVerifyTrust
// learns the hash's algorithm from it.
struct TCatalogInfo8 {
    WINTRUST_CATALOG_INFO info;
    HCATADMIN admin;
};

// The subject's verdict, and the signer's name where WinVerifyTrust got as
// far as the signing certificate (for an untrusted signature too). Reason:
// GetLastError as WinVerifyTrust left it, which tells a file that has no
// signature from one whose signature cannot be read.
LONG Verify(const TTrustDlls& dlls, WINTRUST_DATA& data, TWideString& signer, DWORD& reason)
{
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    // Nothing goes to the network: no revocation lists, no certificates of
    // issuers fetched from the addresses a certificate names.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = dlls.verify(NO_WINDOW, &action, &data);
    reason = GetLastError();
    const TTrustState state(dlls, data);
    CRYPT_PROVIDER_DATA* provider = data.hWVTStateData != nullptr ? dlls.providerData(data.hWVTStateData) : nullptr;
    const CRYPT_PROVIDER_SGNR* first = provider != nullptr ? dlls.signer(provider, 0, FALSE, 0) : nullptr;
    if (first != nullptr && first->csCertChain > 0 && first->pasCertChain != nullptr
        && first->pasCertChain[0].pCert != nullptr) {
        const PCCERT_CONTEXT certificate = first->pasCertChain[0].pCert;
        const DWORD length = dlls.certificateName(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
        std::vector<wchar_t> name(std::max<DWORD>(length, 1));
        dlls.certificateName(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
        signer = MakerText(name.data(), name.size());
    }
    return result;
}

bool IsNoSignature(DWORD result)
{
    const HRESULT code = static_cast<HRESULT>(result);
    return code == TRUST_E_NOSIGNATURE || code == TRUST_E_SUBJECT_FORM_UNKNOWN || code == TRUST_E_PROVIDER_UNKNOWN;
}

// The verdict of the system catalogue that lists the file's hash; false
// when none does. SHA-256 first where Windows has it, then SHA-1.
bool CatalogVerdict(const TTrustDlls& dlls, const TWideString& path, HANDLE file, LONG& result, TWideString& signer)
{
    for (const bool sha256 : {true, false}) {
        TCatalogAdmin admin;
        if (sha256 ? dlls.acquireCatalogs2 == nullptr || dlls.hash2 == nullptr
                         || !dlls.acquireCatalogs2(admin.Receive(), nullptr, L"SHA256", nullptr, 0)
                   : !dlls.acquireCatalogs(admin.Receive(), nullptr, 0)) {
            continue;
        }
        const auto hash = [&](DWORD& size, BYTE* bytes) {
            // The hash is read from where the handle stands.
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
            return sha256 ? dlls.hash2(admin.Get(), file, &size, bytes, 0) : dlls.hash(file, &size, bytes, 0);
        };
        DWORD size = 0;
        hash(size, nullptr);
        std::vector<BYTE> bytes(size);
        if (size == 0 || !hash(size, bytes.data())) {
            continue;
        }
        const TCatalog catalog(admin.Get(), dlls.findCatalog(admin.Get(), bytes.data(), size, 0, nullptr));
        CATALOG_INFO catalogFile = {sizeof(catalogFile), {}};
        if (catalog.Get() == nullptr || !dlls.catalogInfo(catalog.Get(), &catalogFile, 0)) {
            continue;
        }
        // A catalogue names its members by their hashes in upper-case hexadecimal.
        TWideString tag;
        for (const BYTE byte : bytes) {
            AppendHex(tag, byte, 2);
        }
        TCatalogInfo8 member = {};
        member.info.cbStruct = sizeof(member);
        member.info.pcwszCatalogFilePath = catalogFile.wszCatalogFile;
        member.info.pcwszMemberTag = tag.c_str();
        member.info.pcwszMemberFilePath = path.c_str();
        member.info.hMemberFile = file;
        member.info.pbCalculatedFileHash = bytes.data();
        member.info.cbCalculatedFileHash = size;
        member.admin = admin.Get();
        WINTRUST_DATA data = {};
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &member.info;
        DWORD reason = 0;
        result = Verify(dlls, data, signer, reason);
        return true;
    }
    return false;
}

// Whether the token may do any of Wanted to the file or folder.
bool Grants(HANDLE token, const TWideString& path, DWORD wanted)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    if (size == 0 || !GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size)) {
        return false;
    }
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges = {};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    // All the rights the token has at once: asked for several, AccessCheck
    // grants none unless it grants every one.
    return AccessCheck(descriptor.data(), token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted,
                       &allowed)
        && allowed && (granted & wanted) != 0;
}

// The token of the user's own programs, for AccessCheck: an administrator's
// elevated program is linked to the token the user's other programs have.
bool UserToken(TKernelHandle& identification)
{
    TKernelHandle process;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.Receive())) {
        return false;
    }
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD size = 0;
    TKernelHandle linked;
    if (GetTokenInformation(process.Get(), TokenElevationType, &elevation, sizeof(elevation), &size)
        && elevation == TokenElevationTypeFull) {
        TOKEN_LINKED_TOKEN link = {};
        if (!GetTokenInformation(process.Get(), TokenLinkedToken, &link, sizeof(link), &size)) {
            return false;
        }
        linked.Reset(link.LinkedToken);
    }
    return DuplicateToken(linked.Valid() ? linked.Get() : process.Get(), SecurityIdentification, identification.Receive());
}

} // namespace

bool ReadVersionFacts(const TWideString& path, TVersionFacts& facts)
{
    facts = TVersionFacts();
    const TVersionDll& dll = VersionDll();
    TVersionBlock block(dll);
    if (dll.size == nullptr || dll.read == nullptr || dll.query == nullptr || !block.Read(path)) {
        return false;
    }
    std::vector<DWORD> translations;
    const BYTE* value = nullptr;
    std::size_t size = 0;
    if (block.Query(L"\\VarFileInfo\\Translation", value, size) && size >= 2 * sizeof(WORD)) {
        const auto* pair = reinterpret_cast<const WORD*>(value);
        translations.push_back(static_cast<DWORD>(pair[0]) << 16 | pair[1]);
    }
    translations.insert(translations.end(), std::begin(FALLBACK_TRANSLATIONS), std::end(FALLBACK_TRANSLATIONS));
    for (const DWORD translation : translations) {
        facts.description = block.String(translation, L"FileDescription");
        facts.company = block.String(translation, L"CompanyName");
        facts.version = block.String(translation, L"FileVersion");
        if (!facts.description.empty() || !facts.company.empty() || !facts.version.empty()) {
            break;
        }
    }
    if (facts.version.empty() && block.Query(L"\\", value, size) && size >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(value);
        if (fixed->dwSignature == FIXED_FILE_INFO_SIGNATURE) {
            wchar_t number[48] = {};
            wsprintfW(number, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
            facts.version = number;
        }
    }
    return true;
}

TSignatureFacts CheckSignature(const TWideString& path)
{
    TSignatureFacts facts;
    facts.state = TSignatureState::Untrusted;
    facts.reason = TUntrustedReason::Other;
    const TTrustDlls& dlls = TrustDlls();
    // Read whatever another program does with the file meanwhile: an update
    // that replaces it must not fail for the check.
    const TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!dlls.Loaded() || !file.Valid()) {
        return facts;
    }
    WINTRUST_FILE_INFO subject = {};
    subject.cbStruct = sizeof(subject);
    subject.pcwszFilePath = path.c_str();
    subject.hFile = file.Get();
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &subject;
    DWORD reason = 0;
    LONG result = Verify(dlls, data, facts.signer, reason);
    if (IsNoSignature(result) && IsNoSignature(reason)
        && !CatalogVerdict(dlls, path, file.Get(), result, facts.signer)) {
        facts.state = TSignatureState::Unsigned;
        facts.reason = TUntrustedReason::None;
        return facts;
    }
    switch (static_cast<HRESULT>(result)) {
    case ERROR_SUCCESS:
        facts.state = TSignatureState::Trusted;
        facts.reason = TUntrustedReason::None;
        break;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
        facts.reason = TUntrustedReason::UntrustedRoot;
        break;
    case CERT_E_EXPIRED:
        facts.reason = TUntrustedReason::Expired;
        break;
    // A file changed after it was signed; or a signature that is there but
    // cannot be read, which WinVerifyTrust reports as none.
    case TRUST_E_BAD_DIGEST:
    case CRYPT_E_HASH_VALUE:
    case TRUST_E_NOSIGNATURE:
        facts.reason = TUntrustedReason::Changed;
        break;
    default:
        break;
    }
    return facts;
}

bool IsUserWritable(const TWideString& path)
{
    TKernelHandle token;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || !UserToken(token)) {
        return false;
    }
    TWideString folder = ParentPath(path);
    // "C:" alone is the current folder of drive C.
    if (!folder.empty() && folder.back() == L':') {
        folder += L'\\';
    }
    return Grants(token.Get(), path, FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE)
        || (!folder.empty() && Grants(token.Get(), folder, FILE_ADD_FILE | FILE_DELETE_CHILD));
}
