// Finding the rules file beside the executable (Windows build, under Wine with code page 932).
// The lookup is run in a copy of a small probe program placed in a scratch folder whose name, and
// the probe's own name, hold double-byte characters with the second byte 0x5C.
#include <string>
#include <vector>

#include <windows.h>
#include <gmock/gmock.h>

#include "paths/PathText.h"
#include "rules/RulesFile.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kSo = "\x83\x5C";    // katakana so
const std::string kHyou = "\x95\x5C";  // kanji hyou

std::string OwnFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return FolderOfPath(std::string(path, length));
}

class RulesFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "the tests expect the Japanese ANSI code page";
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    // The folder name ends in so, whose last byte looks like a separator.
    folder_ = std::string(temp) + "tagwhirl-rules-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + kSo;
    ASSERT_TRUE(MakeFolder(folder_));
  }

  void TearDown() override {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      if (!DeleteFileA(it->c_str())) RemoveDirectoryA(it->c_str());
    }
  }

  bool MakeFolder(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr)) return false;
    created_.push_back(path);
    return true;
  }

  void PutFile(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "\\" + name;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    created_.push_back(path);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
  }

  // Copies the probe into the folder under a name with double-byte characters, runs it there
  // (from the test's own working folder, which holds a _rules.txt of its own) and returns what
  // LoadRules gave it.
  std::vector<std::string> ProbeRules() {
    const std::string probe = folder_ + "\\" + kHyou + kSo + ".exe";
    const std::string output = folder_ + "\\probe-output.txt";
    if (!CopyFileA((OwnFolder() + "RulesProbe.exe").c_str(), probe.c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy the probe";
      return {};
    }
    created_.push_back(probe);
    created_.push_back(output);
    std::string commandLine = "\"" + probe + "\" \"" + output + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
      ADD_FAILURE() << "cannot start the probe";
      return {};
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
    return ReadHexLines(output);
  }

  std::string folder_;

 private:
  static std::vector<std::string> ReadHexLines(const std::string& path) {
    std::vector<std::string> lines;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    char buffer[4096];
    DWORD read = 0;
    std::string text;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
      text.append(buffer, read);
    CloseHandle(file);
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        lines.push_back(line);
        line.clear();
      } else if (i + 1 < text.size()) {
        line += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
        ++i;
      }
    }
    return lines;
  }

  std::vector<std::string> created_;
};

TEST_F(RulesFolder, RulesTxtWinsOverSample) {
  PutFile("rules.txt", "// mine\r\n$A - $T.mp3\r\n");
  PutFile("_rules.txt", "$T.mp3\r\n");
  EXPECT_THAT(ProbeRules(), ElementsAre("$A - $T.mp3"));
}

TEST_F(RulesFolder, SampleReadWhenRulesTxtIsMissing) {
  PutFile("_rules.txt", "$K $T.mp3\r\n// c\r\n" + kSo + "$T.mp3");
  EXPECT_THAT(ProbeRules(), ElementsAre("$K $T.mp3", kSo + "$T.mp3"));
}

TEST_F(RulesFolder, FolderNamedRulesTxtMeansNoRules) {
  ASSERT_TRUE(MakeFolder(folder_ + "\\rules.txt"));
  PutFile("_rules.txt", "$T.mp3\r\n");
  EXPECT_THAT(ProbeRules(), IsEmpty());
}

TEST_F(RulesFolder, NoFileMeansNoRulesNotTheWorkingFoldersOnes) {
  EXPECT_THAT(ProbeRules(), IsEmpty());
}

TEST_F(RulesFolder, LoadFromFolderWithOrWithoutSeparator) {
  PutFile("_rules.txt", "$A - $T.mp3\n");
  std::vector<std::string> rules;
  LoadRulesFromFolder(folder_, rules);
  LoadRulesFromFolder(folder_ + "\\", rules);
  EXPECT_THAT(rules, ElementsAre("$A - $T.mp3", "$A - $T.mp3"));
}

// In code page 932 a UTF-8 rules file gives the rules a stored 932 file gives; a rule with a
// character 932 cannot write could fit no path the program sees, and a stand-in '?' would make
// another pattern of it: it is left out.
TEST_F(RulesFolder, Utf8FileGivesTheRulesOfA932File) {
  const std::string stored = "$A\\" + kSo + "\\$T.mp3\r\n" + kHyou + "\x8E\xA6 - $T.mp3\r\n";
  const std::string utf8 =
      "$A\\\xE3\x82\xBD\\$T.mp3\r\n\xE8\xA1\xA8\xE7\xA4\xBA - $T.mp3\r\nBeyonc\xC3\xA9 - "
      "$T.mp3\r\n";
  for (const std::string& bytes : {stored, utf8, "\xEF\xBB\xBF" + utf8}) {
    PutFile("rules.txt", bytes);
    std::vector<std::string> rules;
    LoadRulesFromFolder(folder_, rules);
    EXPECT_THAT(rules, ElementsAre("$A\\" + kSo + "\\$T.mp3", kHyou + "\x8E\xA6 - $T.mp3"))
        << bytes;
  }
}

}  // namespace
