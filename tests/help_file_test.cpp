#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

const char* const TOPICS[] = {"About.html", "Questions.html", "AllowedList.html", "Startup.html"};

std::uint64_t Number(const std::string& bytes, std::size_t at, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i - 1));
    }
    return value;
}

// A number of the directory entries: seven bits a byte, high bit set on
// every byte but the last.
std::uint64_t EncodedNumber(const std::string& chunk, std::size_t& at)
{
    std::uint64_t value = 0;
    unsigned char byte = 0;
    do {
        byte = static_cast<unsigned char>(chunk.at(at++));
        value = value << 7 | (byte & 0x7F);
    } while ((byte & 0x80) != 0);
    return value;
}

// The names a compiled help file holds: the listing chunks ("PMGL") of the
// directory that the file's header points to.
std::vector<std::string> CompiledNames(const std::string& file)
{
    std::vector<std::string> names;
    const std::string directory = file.substr(Number(file, 0x48, 8), Number(file, 0x50, 8));
    if (directory.compare(0, 4, "ITSP") != 0) {
        return names;
    }
    const std::size_t headerSize = Number(directory, 0x08, 4);
    const std::size_t chunkSize = Number(directory, 0x10, 4);
    const std::size_t chunks = Number(directory, 0x2C, 4);
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::string chunk = directory.substr(headerSize + i * chunkSize, chunkSize);
        if (chunk.compare(0, 4, "PMGL") != 0) {
            continue;
        }
        const std::size_t end = chunkSize - Number(chunk, 4, 4);
        for (std::size_t at = 0x14; at < end;) {
            const std::size_t length = EncodedNumber(chunk, at);
            names.push_back(chunk.substr(at, length));
            at += length;
            for (int field = 0; field < 3; ++field) { // section, offset, length
                EncodedNumber(chunk, at);
            }
        }
    }
    return names;
}

std::string HelpSource(const std::string& name) { return ReadFileBytes(WinPath(HELP_SOURCE_DIR) + "\\" + name); }

bool IsUtf8(const std::string& text)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                               0)
        != 0;
}

} // namespace

TEST(HelpFile, LiesBesideTheProgramAndHoldsEveryTopic)
{
    const std::string program = ProgramPath();
    const std::string file = ReadFileBytes(program.substr(0, program.rfind('\\')) + "\\Runwarden.chm");
    ASSERT_GT(file.size(), 0x60u);
    ASSERT_EQ(file.substr(0, 4), "ITSF");
    const std::vector<std::string> names = CompiledNames(file);
    std::vector<std::string> wanted = {"/style.css", "/Runwarden.hhc", "/Runwarden.hhk"};
    for (const char* topic : TOPICS) {
        wanted.push_back(std::string("/") + topic);
    }
    for (const std::string& name : wanted) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
}

TEST(HelpFile, TopicsAreWrittenInCodePage1251AndSayIt)
{
    for (const char* topic : TOPICS) {
        const std::string text = HelpSource(topic);
        ASSERT_FALSE(text.empty()) << topic;
        EXPECT_NE(text.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"),
                  std::string::npos)
            << topic;
        // Cyrillic in 1251 is no valid UTF-8.
        EXPECT_FALSE(IsUtf8(text)) << topic;
    }
    // "<title>О программе Runwarden</title>"
    EXPECT_NE(HelpSource("About.html").find("<title>" + Bytes("CE 20 EF F0 EE E3 F0 E0 EC EC E5 20") + "Runwarden</title>"),
              std::string::npos);
}
