// What the question tells of a file: its version resource, its signature
// and whether the user's programs may change it, of the small programs the
// build makes and signs (tests/sign-probes.sh).

#include "FileFacts.h"
#include "Identity.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <algorithm>

namespace {

TWideString BuiltFile(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return W("Z:" + path);
}
TWideString Probe(const char* name) { return BuiltFile(std::string(FILEFACTS_SIGNED "/") + name); }

} // namespace

TEST(FileFacts, VersionResource)
{
    const struct {
        TWideString path;
        bool found;
        const char *description, *company, *version;
    } rows[] = {
        // Under the language the translation table names (Russian, not US
        // English), the company's name up to its zero.
        {Probe("unsigned.exe"), true, "Runwarden probe program", "Runwarden Test Makers", "7.6.5 beta"},
        // No strings: the version's numbers.
        {BuiltFile(FILEFACTS_FIXED), true, "", "", "1.20.300.4000"},
        {BuiltFile(FILEFACTS_BARE), false, "", "", ""},
        {Probe("none.exe"), false, "", "", ""},
    };
    for (const auto& row : rows) {
        TVersionFacts facts = {L"old", L"old", L"old"};
        EXPECT_EQ(ReadVersionFacts(row.path, facts), row.found) << Spell(row.path);
        EXPECT_EQ(Spell(facts.description), row.description) << Spell(row.path);
        EXPECT_EQ(Spell(facts.company), row.company) << Spell(row.path);
        EXPECT_EQ(Spell(facts.version), row.version) << Spell(row.path);
    }
}

TEST(FileFacts, Signatures)
{
    // The test root is trusted while the test runs. Wine's chain engine
    // reads the store from the registry: the root is written there before
    // the first chain is built.
    const std::string root = ReadFileBytes(Spell(Probe("root.cer")));
    const HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(root.data()),
                                                 static_cast<DWORD>(root.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added));
    EXPECT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    const std::string script = FreshTestFolder() + "\\start.bat";
    WriteFileBytes(script, "@echo off\r\n");
    using S = TSignatureState;
    using R = TUntrustedReason;
    const struct {
        TWideString path;
        TSignatureState state;
        TUntrustedReason reason;
        const char* signer;
    } rows[] = {
        {Probe("unsigned.exe"), S::Unsigned, R::None, ""},
        {W(script), S::Unsigned, R::None, ""},
        {Probe("trusted.exe"), S::Trusted, R::None, "Runwarden Test Publisher"},
        {Probe("untrusted.exe"), S::Untrusted, R::UntrustedRoot, "Runwarden Outsider"},
        {Probe("expired.exe"), S::Untrusted, R::Expired, "Runwarden Lapsed Publisher"},
        // Wine compares the digest before it reads the signer.
        {Probe("changed.exe"), S::Untrusted, R::Changed, ""},
        {Probe("none.exe"), S::Untrusted, R::Other, ""},
    };
    for (const auto& row : rows) {
        const TSignatureFacts facts = CheckSignature(row.path);
        EXPECT_EQ(facts.state, row.state) << Spell(row.path);
        EXPECT_EQ(facts.reason, row.reason) << Spell(row.path);
        EXPECT_EQ(Spell(facts.signer), row.signer) << Spell(row.path);
    }
    EXPECT_TRUE(CertDeleteCertificateFromStore(added));
    EXPECT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    CertCloseStore(store, 0);
}

// Wine makes a file's owner and rights of its Linux owner and mode: the
// user's own files are the user's to change (and to give rights to), those
// of another Linux user only as the mode lets others.
TEST(FileFacts, UserWritable)
{
    const std::string folder = FreshTestFolder();
    for (const std::string name : {"locked", "open"}) {
        CreateDirectoryA((folder + "\\" + name).c_str(), nullptr);
        WriteFileBytes(folder + "\\" + name + "\\f.exe", "f");
    }
    WriteFileBytes(folder + "\\locked\\w.exe", "w");
    ASSERT_TRUE(RunLinux("cd '" + UnixName(folder) + "' && chown -R 65534 locked open && chmod 755 locked locked/f.exe"
                         + " && chmod 666 locked/w.exe && chmod 777 open"));
    const std::pair<const char*, bool> rows[] = {
        {"locked\\f.exe", false}, {"locked\\w.exe", true}, {"open\\f.exe", true}, {"open\\none.exe", false}};
    for (const auto& [name, writable] : rows) {
        EXPECT_EQ(IsUserWritable(W(folder + "\\" + name)), writable) << name;
    }
}

// The account under the question: a block for each file the entry starts,
// every line as the user reads it.
TEST(FileFacts, TheQuestionsAccountOfTheProgram)
{
    const std::string folder = FreshTestFolder(), probe = Spell(Probe("unsigned.exe"));
    ASSERT_TRUE(CopyFileW(Probe("unsigned.exe").c_str(), (W(folder) + L"\\setup\x202E" L"exe.txt").c_str(), FALSE));
    const std::string version = "\r\nОписание: Runwarden probe program\r\nПроизводитель: Runwarden Test Makers\r\nВерсия: 7.6.5 beta";
    const std::string writable = "\r\nВнимание: программы пользователя могут изменить или подменить этот файл без прав администратора.";
    using K = TStartKind;
    const struct {
        std::vector<TStartItem> starts;
        std::string text;
    } rows[] = {
        {{{K::CommandLine, W("\"" + probe + "\" /run")}}, "Программа: " + probe + version + "\r\nПодпись: нет" + writable},
        {{{K::CommandLine, Probe("untrusted.exe")}}, "Программа: " + Spell(Probe("untrusted.exe")) + version
             + "\r\nПодпись: недействительна (корневой сертификат не является доверенным), подписал Runwarden Outsider" + writable},
        {{{K::CommandLine, Probe("changed.exe")}}, "Программа: " + Spell(Probe("changed.exe")) + version
             + "\r\nПодпись: недействительна (файл изменен после подписания)" + writable},
        // Each file its block; one that is not there, or on another computer, is not looked at.
        {{{K::CommandLine, L"C:\\x\\gone.exe -a"}, {K::Library, L"\\\\rwnowhere\\share\\a.dll"}},
         "Программа: C:\\x\\gone.exe \x97 файл не найден\r\n\r\nПрограмма: \\\\rwnowhere\\share\\a.dll \x97 на другом компьютере, не проверялась"},
        {{{K::EntryFile, W(folder) + L"\\setup\x202E" L"exe.txt"}}, "Программа: " + folder + "\\setup\xAB" "202E\xBB" "exe.txt" + version
             + "\r\nПодпись: нет" + writable},
        {{}, ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Spell(IdentityText(row.starts, INFINITE)), row.text);
    }
}
