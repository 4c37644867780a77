// mp3infp.dll driven by the program's own save (copied first when saving into a folder, loaded,
// tags created where none are, values set, saved), and by hand; then read back and compared.
#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>

#include "journal/KeptStore.h"
#include "mp3infp/FileIo.h"
#include "mp3infp/FlacFile.h"
#include "mp3infp/Leftovers.h"
#include "mp3infp/Session.h"
#include "tags/SaveEntry.h"
#include "tags/TagLibrary.h"
#include "tests/mp3infp/WinSampleFiles.h"
#include "tests/support/WinTestSupport.h"

namespace {

using namespace samples;

constexpr const char* kKeys[] = {"IART", "IPRD", "INAM", "TRACK", "IGNR", "ICRD", "ICMT"};

// Values with the characters that differ between code page tables (～ －), and 0x5C as a
// second byte (表, ソ).
const std::vector<std::string> kValues = {"表示アーティスト", "アルバム～ソ", "題名－テスト", "7",
                                          "ジャンル",         "2024",         "コメント表"};

// An ID3v2.3 tag with the title "old" and no padding, then `frames` MPEG frames: any new value
// needs the file rewritten.
Bytes TightMp3(int frames) {
  Bytes file = Tag(3, Frame(3, "TIT2", Latin1Text("old")), 0);
  Append(file, MpegAudio(frames));
  return file;
}

class Mp3infpDll : public ::testing::Test {
 protected:
  // The program's library, which its save uses, and this test's own handle on the same library
  // (one current file), with which it looks at the files.
  void SetUp() override {
    ASSERT_TRUE(theTagLibrary.Open("mp3infp"));
    ASSERT_TRUE(library.Open("mp3infp"));
  }
  void TearDown() override {
    library.Close();
    theTagLibrary.Close();
  }

  // The program's own save of an entry holding every value of kValues: in place, or into a copy
  // named `copyName` in `folder`. A box it shows is answered and fails the test.
  bool Save(const std::string& path, const std::string& folder = "",
            const std::string& copyName = "") {
    EntryToSave entry;
    entry.path = path;
    entry.fileName = copyName;
    std::copy(kValues.begin(), kValues.end(), entry.values.begin());
    BoxWatcher watcher;
    const bool saved = SaveEntry(entry, folder.empty() ? nullptr : folder.c_str(), nullptr);
    for (const SeenBox& box : watcher.boxes()) ADD_FAILURE() << box.caption << ": " << box.text;
    return saved;
  }

  std::string Value(const std::string& name) {
    char buffer[256];
    if (library.GetValue(name.c_str(), buffer, sizeof buffer) == DWORD(-1)) return "<none>";
    return buffer;
  }

  TagLibrary library;
};

TEST_F(Mp3infpDll, SavingAnUntaggedMp3CreatesBothTagsWithEveryField) {
  const ScratchFolder scratch("untagged表");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\曲ソ.mp3";
  const Bytes audio = MpegAudio(20);
  ASSERT_TRUE(WriteBytes(path, audio));

  library.Load(nullptr, path.c_str());
  EXPECT_EQ(1u, library.GetType());
  EXPECT_EQ(0u, library.GetTagType());
  ASSERT_TRUE(Save(path));

  library.Load(nullptr, path.c_str());
  EXPECT_EQ(3u, library.GetTagType());
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(kValues[i], Value(std::string(kKeys[i]) + "_v2")) << kKeys[i];
  }
  EXPECT_EQ(kValues[0], Value("IART_v1"));
  EXPECT_EQ("7", Value("TRACK_v1"));
  EXPECT_EQ("", Value("IGNR_v1"));  // not a genre of the list: 255

  const Bytes saved = ReadBytes(path);
  const size_t tagSize = (saved[6] << 21 | saved[7] << 14 | saved[8] << 7 | saved[9]) + 10;
  EXPECT_EQ(Hash(audio, 0, audio.size()), Hash(saved, tagSize, saved.size() - 128));
  EXPECT_EQ(audio.size() + tagSize + 128, saved.size());
}

TEST_F(Mp3infpDll, SavingIntoACopyLeavesTheEntrysFileAsItWas) {
  const ScratchFolder scratch("copy");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\source.mp3";
  const Bytes audio = MpegAudio(5);
  ASSERT_TRUE(WriteBytes(path, audio));
  ASSERT_TRUE(Save(path, folder, "コピー.mp3"));

  library.Load(nullptr, (folder + "\\コピー.mp3").c_str());
  EXPECT_EQ(3u, library.GetTagType());
  EXPECT_EQ(kValues[2], Value("INAM_v2"));
  EXPECT_EQ(kValues[2], Value("INAM_v1"));
  // The copy was made first and took the tags: the entry's own file is as it was.
  EXPECT_EQ(audio, ReadBytes(path));
}

TEST_F(Mp3infpDll, RoomInThePaddingIsUsedInPlaceOtherwiseTheFileIsReplaced) {
  const ScratchFolder scratch("inplace");
  const std::string& folder = scratch.path();
  const std::string roomy = folder + "\\roomy.mp3";
  Bytes file = Tag(3, Frame(3, "TIT2", Latin1Text("old")), 2000);
  Append(file, MpegAudio(5));
  ASSERT_TRUE(WriteBytes(roomy, file));
  const DWORD index = FileIndex(roomy);
  library.Load(nullptr, roomy.c_str());
  ASSERT_EQ(2u, library.GetTagType());
  library.SetValue("INAM_v2", "新しい題名");
  ASSERT_EQ(0u, library.Save(roomy.c_str()));
  EXPECT_EQ(file.size(), ReadBytes(roomy).size());
  EXPECT_EQ(index, FileIndex(roomy));

  const std::string tight = folder + "\\tight.mp3";
  file = TightMp3(5);
  ASSERT_TRUE(WriteBytes(tight, file));
  library.Load(nullptr, tight.c_str());
  library.SetValue("INAM_v2", "新しい題名");
  ASSERT_EQ(0u, library.Save(tight.c_str()));
  library.Load(nullptr, tight.c_str());
  EXPECT_EQ("新しい題名", Value("INAM_v2"));
  // Only the file itself is left: no temporary file, no backup.
  EXPECT_EQ(2, CountFiles(folder));
}

// A file rewritten whole keeps what it carries besides its bytes: attributes, time of creation,
// and an access control list of its own: one shielded from the folder's, or one that adds an
// entry to what the folder hands down (a new file in the folder has neither).
TEST_F(Mp3infpDll, ARewrittenFileKeepsItsAttributesCreationTimeAndAccessList) {
  for (const bool shielded : {true, false}) {
    SCOPED_TRACE(shielded ? "shielded list" : "list with an entry of its own");
    const ScratchFolder scratch("carried");
    const std::string path = scratch / "tight.mp3";
    ASSERT_TRUE(WriteBytes(path, TightMp3(5)));
    const std::wstring wide(path.begin(), path.end());
    const FILETIME created = {0x12345600, 0x01D00000};
    {
      HANDLE file =
          CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, file);
      SetFileTime(file, &created, nullptr, nullptr);
      CloseHandle(file);
    }
    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    // Wine cannot set a time of creation on Linux file systems: there it is not compared.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data));
    const bool settable = CompareFileTime(&created, &data.ftCreationTime) == 0;
    EXPLICIT_ACCESS_W access = {};
    BuildExplicitAccessWithNameW(&access, const_cast<wchar_t*>(L"EVERYONE"), GENERIC_ALL,
                                 SET_ACCESS, NO_INHERITANCE);
    PACL list = nullptr;
    ASSERT_EQ(DWORD(ERROR_SUCCESS), SetEntriesInAclW(1, &access, nullptr, &list));
    ASSERT_EQ(DWORD(ERROR_SUCCESS),
              SetNamedSecurityInfoW(
                  const_cast<wchar_t*>(wide.c_str()), SE_FILE_OBJECT,
                  DACL_SECURITY_INFORMATION | (shielded ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION),
                  nullptr, nullptr, list, nullptr));
    LocalFree(list);
    const auto listOf = [&] {
      PACL dacl = nullptr;
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      EXPECT_EQ(DWORD(ERROR_SUCCESS),
                GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor));
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      GetSecurityDescriptorControl(descriptor, &control, &revision);
      std::string text = (control & SE_DACL_PROTECTED) ? "protected" : "inherits";
      if (dacl) text += std::string(reinterpret_cast<const char*>(dacl), dacl->AclSize);
      LocalFree(descriptor);
      return text;
    };
    const std::string before = listOf();
    const DWORD index = FileIndex(path);

    library.Load(nullptr, path.c_str());
    library.SetValue("INAM_v2", "新しい題名");
    ASSERT_EQ(0u, library.Save(path.c_str()));
    EXPECT_NE(index, FileIndex(path)) << "not rewritten whole";
    ASSERT_TRUE(GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    if (settable) EXPECT_EQ(0, CompareFileTime(&created, &data.ftCreationTime));
    EXPECT_EQ(before, listOf());
  }
}

// Small reads come from a window read ahead of them: reads inside it, across its end, at the
// file's end and past it, and large ones beside it, each give the file's own bytes or fail.
TEST(Mp3infpFileSource, ReadsGiveTheFilesBytesWhereverTheWindowLies) {
  const ScratchFolder scratch("source");
  const std::string path = scratch / "bytes.bin";
  Bytes file(200000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + i / 251);
  ASSERT_TRUE(WriteBytes(path, file));
  mp3infp::FileHandle handle(mp3infp::OpenForReading(mp3infp::WidePath(path.c_str())));
  mp3infp::FileSource source(handle.get());
  ASSERT_TRUE(source.ok());
  const struct {
    uint64_t offset;
    size_t length;
    bool ok;
  } reads[] = {
      {0, 10, true},      {20, 4, true},         {65530, 20, true},      {10, 4, true},
      {199990, 10, true}, {199999, 1, true},     {199999, 2, false},     {200000, 0, true},
      {200001, 1, false}, {5, 150000, true},     {131000, 1000, true},   {65536, 32768, true},
      {0, 200000, true},  {140000, 60000, true}, {140000, 60001, false},
  };
  for (const auto& read : reads) {
    SCOPED_TRACE(std::to_string(read.offset) + "+" + std::to_string(read.length));
    Bytes got(read.length + 1, 0xEE);
    ASSERT_EQ(read.ok, source.Read(read.offset, got.data(), read.length));
    if (read.ok) {
      EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, file.begin() + read.offset));
      EXPECT_EQ(0xEE, got.back()) << "wrote past the length asked for";
    }
  }
}

// The audio is copied in blocks through one buffer kept from save to save: a long file, then a
// short one, then the long one again must each keep their own audio, and their ID3v1 tags after
// it, byte for byte.
TEST_F(Mp3infpDll, RewritingFilesOfEverySizeKeepsTheirAudioExactly) {
  const ScratchFolder scratch("blocks");
  const std::string& folder = scratch.path();
  struct Sample {
    std::string path;
    Bytes audio;
  };
  // 2.6 MiB spans several copy blocks and ends part way into one.
  std::vector<Sample> samples = {{folder + "\\long.mp3", MpegAudio(6600, 3)},
                                 {folder + "\\short.mp3", MpegAudio(3, 9)}};
  for (auto& sample : samples) {
    Bytes file = TightMp3(0);
    Append(file, sample.audio);
    Append(file, Id3v1("old", "old"));
    ASSERT_TRUE(WriteBytes(sample.path, file));
  }
  for (const int round : {0, 1, 0}) {
    const Sample& sample = samples[round];
    library.Load(nullptr, sample.path.c_str());
    library.SetValue("INAM_v2", ("題名" + std::to_string(round)).c_str());
    library.SetValue("INAM_v1", "v1");
    ASSERT_EQ(0u, library.Save(sample.path.c_str())) << sample.path;
    const Bytes after = ReadBytes(sample.path);
    ASSERT_GT(after.size(), sample.audio.size() + 128);
    const size_t audioEnd = after.size() - 128;
    const size_t audioStart = audioEnd - sample.audio.size();
    EXPECT_TRUE(std::equal(sample.audio.begin(), sample.audio.end(), after.begin() + audioStart))
        << sample.path;
    library.Load(nullptr, sample.path.c_str());
    EXPECT_EQ("v1", Value("INAM_v1"));
    EXPECT_EQ("題名" + std::to_string(round), Value("INAM_v2"));
  }
}

TEST_F(Mp3infpDll, ReadOnlyOrLockedFilesFailAndStayAsTheyWere) {
  const ScratchFolder scratch("locked");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\song.mp3";
  const Bytes file = TightMp3(5);
  ASSERT_TRUE(WriteBytes(path, file));

  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  library.Load(nullptr, path.c_str());
  library.SetValue("INAM_v2", "new");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_EQ(file, ReadBytes(path));
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  // Another handle that does not share writing.
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  library.Load(nullptr, path.c_str());  // reading still works
  EXPECT_EQ("old", Value("INAM_v2"));
  library.SetValue("INAM_v2", "new");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_NE(0u, library.MakeId3v1(path.c_str()));
  CloseHandle(holder);
  EXPECT_EQ(file, ReadBytes(path));
  EXPECT_EQ(1, CountFiles(folder));
}

TEST_F(Mp3infpDll, AFileHeldByAnotherProcessFailsAndStaysAsItWas) {
  const ScratchFolder scratch("held");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\song.mp3";
  const Bytes file = TightMp3(5);
  ASSERT_TRUE(WriteBytes(path, file));

  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-held");
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-release");
  std::string command = "HoldFile.exe \"" + path + "\"";
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 20000));

  library.Load(nullptr, path.c_str());
  library.SetValue("INAM_v2", "a new title much longer than the room the old tag has left");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_NE(0u, library.MakeId3v1(path.c_str()));

  SetEvent(release);
  WaitForSingleObject(process.hProcess, 20000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(held);
  CloseHandle(release);
  EXPECT_EQ(file, ReadBytes(path));
  EXPECT_EQ(1, CountFiles(folder));
}

TEST_F(Mp3infpDll, NothingSetMeansNothingWritten) {
  const ScratchFolder scratch("nothing");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\notes.txt";
  ASSERT_TRUE(WriteBytes(path, Of("not audio")));
  library.Load(nullptr, path.c_str());
  EXPECT_NE(1u, library.GetType());
  EXPECT_EQ(0u, library.Save(path.c_str()));
  // A value for a file it cannot tag makes the save fail, and the file is untouched.
  library.SetValue("INAM", "title");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_NE(0u, library.MakeId3v2(path.c_str()));
  EXPECT_EQ(Of("not audio"), ReadBytes(path));
  // A missing file: Load says so, Save with nothing set does not invent one.
  EXPECT_NE(0u, library.Load(nullptr, (folder + "\\missing.mp3").c_str()));
  EXPECT_EQ(0u, library.GetType());
}

// Reading a file's values apart, as the list's reader threads do: the seven values in key order,
// whatever the current file is, from another thread while it is loaded; each failure its own.
TEST_F(Mp3infpDll, ValuesAreReadApartFromTheCurrentFile) {
  const ScratchFolder scratch("apart");
  const std::string tagged = scratch.path() + "\\tagged.mp3", other = scratch.path() + "\\b.mp3";
  ASSERT_TRUE(WriteBytes(tagged, MpegAudio(8)));
  ASSERT_TRUE(WriteBytes(other, TightMp3(8)));
  ASSERT_TRUE(Save(tagged));
  ASSERT_TRUE(WriteBytes(scratch.path() + "\\cover.jpg", Of("\xFF\xD8\xFF\xE0")));
  std::string all;
  for (const std::string& value : kValues) all += value + '\0';

  ASSERT_EQ(0u, library.Load(nullptr, other.c_str()));
  const struct {
    std::string name;
    DWORD bufferSize;
    DWORD result;
    DWORD needed;
  } cases[] = {
      {"tagged.mp3", 4096, 0, DWORD(all.size())},
      {"tagged.mp3", DWORD(all.size()), 0, DWORD(all.size())},
      {"tagged.mp3", DWORD(all.size() - 1), mp3infp::kBufferTooSmall, DWORD(all.size())},
      {"b.mp3", 4096, 0, 10},
      {"cover.jpg", 4096, mp3infp::kCannotTag, 0},
      {"missing.mp3", 4096, mp3infp::kCannotOpen, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " in " + std::to_string(c.bufferSize));
    std::string buffer(c.bufferSize, '\x7F');
    DWORD needed = 12345, result = 0;
    std::thread reader([&] {
      result = theTagLibrary.ReadValues((scratch.path() + "\\" + c.name).c_str(), buffer.data(),
                                        c.bufferSize, &needed);
    });
    reader.join();
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.needed, needed);
    if (c.result == 0 && c.name == "tagged.mp3") EXPECT_EQ(all, buffer.substr(0, needed));
  }
  // The current file is still the one loaded.
  EXPECT_EQ("old", Value("INAM"));
}

TEST_F(Mp3infpDll, WaveGetsThePlainNamesInItsInfoList) {
  const ScratchFolder scratch("wave");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\sound.wav";
  const Bytes pcm(4000, 0x42);
  ASSERT_TRUE(WriteBytes(path, Riff("WAVE", {Chunk("fmt ", WaveFormat()), Chunk("data", pcm)})));
  library.Load(nullptr, path.c_str());
  EXPECT_EQ(kMp3infpTypeWave, library.GetType());
  ASSERT_TRUE(Save(path));
  library.Load(nullptr, path.c_str());
  EXPECT_EQ(kValues[2], Value("INAM"));
  EXPECT_EQ("7", Value("TRACK"));
  const Bytes saved = ReadBytes(path);
  const Bytes data = Chunk("data", pcm);
  EXPECT_TRUE(std::search(saved.begin(), saved.end(), data.begin(), data.end()) != saved.end());
}

TEST_F(Mp3infpDll, FlacTakesThePlainNamesInItsVorbisComment) {
  using mp3infp::FlacFile;
  const ScratchFolder scratch("flac");
  const std::string& folder = scratch.path();
  const Bytes audio = FlacAudio(20000);
  const Bytes comment = FlacBlock(FlacFile::kVorbisComment, VorbisCommentBody("v", {"GENRE="}));
  struct Case {
    const char* name;
    Bytes file;
    bool grows;
  };
  const Case cases[] = {
      {"roomy.flac",
       Flac({FlacBlock(FlacFile::kStreamInfo, FlacStreamInfo()), comment,
             FlacBlock(FlacFile::kPadding, Bytes(1000), true)},
            audio),
       false},
      {"tight.flac", Flac({FlacBlock(FlacFile::kStreamInfo, FlacStreamInfo(), true)}, audio), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "\\" + c.name;
    ASSERT_TRUE(WriteBytes(path, c.file));
    library.Load(nullptr, path.c_str());
    EXPECT_EQ(kMp3infpTypeFlac, library.GetType());
    EXPECT_EQ(0u, library.GetTagType());
    // The program's save: no ID3 tags made, the plain names set.
    ASSERT_TRUE(Save(path));
    EXPECT_NE(0u, library.MakeId3v2(path.c_str()));
    library.Load(nullptr, path.c_str());
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(kValues[i], Value(kKeys[i])) << kKeys[i];
    EXPECT_EQ("<none>", Value("INAM_v2"));
    const Bytes saved = ReadBytes(path);
    EXPECT_EQ(c.grows, saved.size() > c.file.size());
    EXPECT_EQ(Hash(audio, 0, audio.size()), Hash(saved, saved.size() - audio.size(), saved.size()));
    // A suffix is an MP3 matter: the save fails and the file stays as it was.
    library.SetValue("INAM_v2", "x");
    EXPECT_NE(0u, library.Save(path.c_str()));
    EXPECT_EQ(saved, ReadBytes(path));
  }
}

TEST_F(Mp3infpDll, RiffMp3TakesInfoValuesAndGetsId3TagsWhenItHasNone) {
  const ScratchFolder scratch("rmp3");
  const std::string& folder = scratch.path();
  const std::string withInfo = folder + "\\info.rmp";
  ASSERT_TRUE(WriteBytes(withInfo,
                         Riff("RMP3", {Chunk("data", MpegAudio(4)), InfoList({{"INAM", "old"}})})));
  library.Load(nullptr, withInfo.c_str());
  EXPECT_EQ(1u, library.GetType());
  EXPECT_EQ(4u, library.GetTagType());
  // Without ID3 tags the program creates both, also beside LIST/INFO.
  ASSERT_TRUE(Save(withInfo));
  library.Load(nullptr, withInfo.c_str());
  EXPECT_EQ(7u, library.GetTagType());
  EXPECT_EQ(kValues[2], Value("INAM_v2"));
  EXPECT_EQ(kValues[2], Value("INAM_rmp"));
  EXPECT_EQ("7", Value("TRACK_rmp"));

  const std::string bare = folder + "\\bare.rmp";
  ASSERT_TRUE(WriteBytes(bare, Riff("RMP3", {Chunk("data", MpegAudio(4))})));
  ASSERT_TRUE(Save(bare));
  library.Load(nullptr, bare.c_str());
  EXPECT_EQ(3u, library.GetTagType());
  EXPECT_EQ(kValues[0], Value("IART_v2"));
  EXPECT_EQ(kValues[0], Value("IART_v1"));
}

TEST_F(Mp3infpDll, BrokenTagsAreNotWritten) {
  const ScratchFolder scratch("broken");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\cut.mp3";
  Bytes file = Tag(3, Frame(3, "APIC", Bytes(3000, 7)), 0);
  file.resize(1000);  // cut in the middle of the picture
  ASSERT_TRUE(WriteBytes(path, file));
  library.Load(nullptr, path.c_str());
  EXPECT_EQ(2u, library.GetTagType());
  library.SetValue("INAM_v2", "x");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_NE(0u, library.MakeId3v1(path.c_str()));
  EXPECT_EQ(file, ReadBytes(path));
}

TEST_F(Mp3infpDll, LongPathsGoThroughTheWideApi) {
  const auto longForm = [](const std::string& path) {
    wchar_t full[1024];
    GetFullPathNameW(Wide(path).c_str(), 1024, full, nullptr);
    return L"\\\\?\\" + std::wstring(full);
  };
  const ScratchFolder scratch("long");
  std::string folder = scratch.path();
  for (int i = 0; i < 6; ++i) {
    folder += "\\" + std::string(40, char('a' + i));
    ASSERT_TRUE(CreateDirectoryW(longForm(folder).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::string path = folder + "\\長い名前.mp3";
  ASSERT_GT(path.size(), 260u);
  HANDLE file =
      CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const Bytes audio = MpegAudio(3);
  DWORD written = 0;
  WriteFile(file, audio.data(), DWORD(audio.size()), &written, nullptr);
  CloseHandle(file);

  ASSERT_TRUE(Save(path));
  library.Load(nullptr, path.c_str());
  EXPECT_EQ(3u, library.GetTagType());
  EXPECT_EQ(kValues[1], Value("IPRD_v2"));
}

// A writer that fails after a number of bytes, as a full disk does.
class FullDisk : public mp3infp::Writer {
 public:
  explicit FullDisk(size_t room) : room_(room) {}
  bool Write(HANDLE file, uint64_t offset, const void* data, size_t length) override {
    if (length > room_) {
      mp3infp::Writer::Write(file, offset, data, room_);
      room_ = 0;
      return false;
    }
    room_ -= length;
    return mp3infp::Writer::Write(file, offset, data, length);
  }

 private:
  size_t room_;
};

TEST(Mp3infpFullDisk, AFailedWriteLeavesTheOriginalByteIdentical) {
  const ScratchFolder scratch("full");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\song.mp3";
  const Bytes file = TightMp3(40);
  ASSERT_TRUE(WriteBytes(path, file));
  for (size_t room : {size_t(0), size_t(100), size_t(5000)}) {
    mp3infp::Session session;
    ASSERT_EQ(0u, session.Load(path.c_str()));
    session.SetValue("INAM_v2", "a title that does not fit into the old tag");
    FullDisk disk(room);
    EXPECT_NE(0u, session.Save(path.c_str(), disk)) << room;
    EXPECT_EQ(file, ReadBytes(path)) << room;
    EXPECT_EQ(1, CountFiles(folder)) << room;
  }

  // In place: the ID3v2 region is overwritten, then the ID3v1 tag cannot be appended.
  Bytes roomy = Tag(3, Frame(3, "TIT2", Latin1Text("old")), 500);
  Append(roomy, MpegAudio(5));
  ASSERT_TRUE(WriteBytes(path, roomy));
  mp3infp::Session session;
  session.Load(path.c_str());
  session.SetValue("INAM_v2", "new");
  session.SetValue("INAM_v1", "new");
  const size_t region = 10 + 14 + 500;  // header, TIT2 "old", padding
  FullDisk disk(region + 46);
  EXPECT_NE(0u, session.Save(path.c_str(), disk));
  EXPECT_EQ(roomy, ReadBytes(path));
}

// A drive whose delayed write fails after every write was taken: the flush or the close reports
// it, as a removable or network drive does.
class FailingDrive : public mp3infp::Writer {
 public:
  FailingDrive(bool flush, bool close) : flush_(flush), close_(close) {}
  bool Flush(HANDLE file) override { return mp3infp::Writer::Flush(file) && !flush_; }
  bool Close(mp3infp::FileHandle& file) override { return mp3infp::Writer::Close(file) && !close_; }

 private:
  bool flush_, close_;
};

TEST(Mp3infpFailingDrive, AFailedFlushOrCloseIsAFailedSave) {
  const ScratchFolder scratch("drive");
  const std::string path = scratch.path() + "\\song.mp3";
  Bytes roomy = Tag(3, Frame(3, "TIT2", Latin1Text("old")), 500);
  Append(roomy, MpegAudio(5));
  struct Case {
    bool flush, close;
    const Bytes file;
    bool unchanged;  // the old bytes are back (a failed flush), or were never replaced
  };
  const Case cases[] = {
      {true, false, roomy, true},
      {false, true, roomy, false},  // in place
      {true, false, TightMp3(5), true},
      {false, true, TightMp3(5), true},  // through a copy
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flush << c.close << c.file.size());
    ASSERT_TRUE(WriteBytes(path, c.file));
    mp3infp::Session session;
    ASSERT_EQ(0u, session.Load(path.c_str()));
    session.SetValue("INAM_v2", "a longer title");
    FailingDrive drive(c.flush, c.close);
    EXPECT_NE(0u, session.Save(path.c_str(), drive));
    if (c.unchanged) {
      EXPECT_EQ(c.file, ReadBytes(path));
    }
    EXPECT_EQ(1, CountFiles(scratch.path()));
  }
}

// Counts the writes that start a file (offset 0): one for each time a file is written anew or its
// ID3v2 region rewritten.
class CountingDisk : public FullDisk {
 public:
  using FullDisk::FullDisk;
  bool Write(HANDLE file, uint64_t offset, const void* data, size_t length) override {
    starts += offset == 0;
    return FullDisk::Write(file, offset, data, length);
  }
  int starts = 0;
};

// Tags made for the loaded file wait in memory and are written with the values, once, into the
// file the save names; nothing reaches a disk before that save, and a failed save leaves the file
// as it was.
TEST(Mp3infpMadeTags, AreWrittenOnceWithTheValuesIntoTheFileSaved) {
  enum Target { kInPlace, kIntoCopy, kReloadedFirst };
  struct Case {
    const char* name;
    bool v1, v2;
    const char* title;  // empty: no value set
    Target target;
    size_t room;  // of the disk
    bool readOnly;
    DWORD flagsMade;    // GetTagType right after making them
    bool saved;         // Save's result is 0
    DWORD flagsOnDisk;  // of the file saved
    int starts;         // files written anew
  };
  constexpr size_t kRoomy = 1 << 30;
  const Case cases[] = {
      {"both, then a value", true, true, "題名", kInPlace, kRoomy, false, 3, true, 3, 1},
      {"ID3v2 only, then a value", false, true, "題名", kInPlace, kRoomy, false, 2, true, 2, 1},
      {"ID3v1 only, no value", true, false, "", kInPlace, kRoomy, false, 1, true, 1, 0},
      {"both, no value", true, true, "", kInPlace, kRoomy, false, 3, true, 3, 1},
      {"both, saved into a copy", true, true, "題名", kIntoCopy, kRoomy, false, 3, true, 3, 1},
      {"both, dropped by a new load", true, true, "", kReloadedFirst, kRoomy, false, 0, true, 0, 0},
      {"both, the disk full", true, true, "題名", kInPlace, 100, false, 3, false, 0, 1},
      {"both, a read-only file", true, true, "題名", kInPlace, kRoomy, true, 0, true, 0, 0},
  };
  const ScratchFolder scratch("made");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\曲.mp3", copy = folder + "\\copy.mp3";
  const Bytes audio = MpegAudio(30);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(copy.c_str());
    ASSERT_TRUE(WriteBytes(path, audio));
    if (c.readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);

    mp3infp::Session session;
    ASSERT_EQ(0u, session.Load(path.c_str()));
    // A file that cannot be written refuses the tag at once, as it did when the tag was written.
    if (c.v1) EXPECT_EQ(c.readOnly, session.MakeTag(path.c_str(), false) != 0);
    if (c.v2) EXPECT_EQ(c.readOnly, session.MakeTag(path.c_str(), true) != 0);
    if (c.target != kReloadedFirst) EXPECT_EQ(c.flagsMade, session.GetTagType());
    if (*c.title) {
      if (c.flagsMade & 1) session.SetValue("INAM_v1", c.title);
      if (c.flagsMade & 2) session.SetValue("INAM_v2", c.title);
    }
    EXPECT_EQ(audio, ReadBytes(path));  // nothing written yet

    std::string target = path;
    if (c.target == kIntoCopy) {
      ASSERT_TRUE(CopyFileA(path.c_str(), copy.c_str(), TRUE));
      target = copy;
    }
    if (c.target == kReloadedFirst) session.Load(path.c_str());
    CountingDisk disk(c.room);
    EXPECT_EQ(c.saved, session.Save(target.c_str(), disk) == 0);
    EXPECT_EQ(c.starts, disk.starts);

    if (c.target == kIntoCopy || !c.saved) EXPECT_EQ(audio, ReadBytes(path));
    mp3infp::Session reader;
    reader.Load(target.c_str());
    EXPECT_EQ(c.flagsOnDisk, reader.GetTagType());
    char title[64] = "";
    if (*c.title && c.flagsOnDisk) {
      reader.GetValue((c.flagsOnDisk & 2) ? "INAM_v2" : "INAM_v1", title, sizeof title);
      EXPECT_STREQ(c.title, title);
    }
    EXPECT_EQ(c.target == kIntoCopy ? 2 : 1, CountFiles(folder));
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file other than the loaded one gets its tag at once, and the loaded file is left alone.
TEST(Mp3infpMadeTags, ForAnotherFileAreWrittenAtOnce) {
  const ScratchFolder scratch("other");
  const std::string& folder = scratch.path();
  const std::string loaded = folder + "\\loaded.mp3", other = folder + "\\other.mp3";
  ASSERT_TRUE(WriteBytes(loaded, MpegAudio(3)));
  ASSERT_TRUE(WriteBytes(other, MpegAudio(3)));
  mp3infp::Session session;
  ASSERT_EQ(0u, session.Load(loaded.c_str()));
  EXPECT_EQ(0u, session.MakeTag(other.c_str(), true));
  EXPECT_EQ(0u, session.GetTagType());
  EXPECT_EQ(0u, session.Save(loaded.c_str()));
  EXPECT_EQ(MpegAudio(3), ReadBytes(loaded));
  mp3infp::Session reader;
  reader.Load(other.c_str());
  EXPECT_EQ(2u, reader.GetTagType());
}

// From Load to the save that follows, the loaded file is held: others may read it but not write
// it, so that the values go into the file that was read. Whatever ends that pair lets it go.
TEST(Mp3infpHeldFile, FromLoadToTheNextSaveOrLoad) {
  const ScratchFolder scratch("held-by-us");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\song.mp3", other = folder + "\\other.mp3";
  const auto writable = [](const std::string& file) {
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
  };
  const auto readable = [](const std::string& file) { return !ReadBytes(file).empty(); };
  struct Case {
    const char* name;
    std::function<void(mp3infp::Session&)> end;
  };
  const Case cases[] = {
      {"a save in place", [&](mp3infp::Session& s) { s.Save(path.c_str()); }},
      {"a save with nothing set", [&](mp3infp::Session& s) { s.Save(path.c_str()); }},
      {"a save into a copy", [&](mp3infp::Session& s) { s.Save(other.c_str()); }},
      {"loading another file", [&](mp3infp::Session& s) { s.Load(other.c_str()); }},
  };
  bool first = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteBytes(path, MpegAudio(4)));
    ASSERT_TRUE(WriteBytes(other, MpegAudio(4)));
    mp3infp::Session session;
    ASSERT_EQ(0u, session.Load(path.c_str()));
    if (first) session.SetValue("INAM_v2", "題名");
    first = false;
    EXPECT_FALSE(writable(path));
    EXPECT_TRUE(readable(path));
    c.end(session);
    EXPECT_TRUE(writable(path));
    // The other file was never held after its own save or load ended.
    if (std::string(c.name) != "loading another file") EXPECT_TRUE(writable(other));
  }
  // A file it may not write is only read, and saving it fails as before.
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  mp3infp::Session session;
  EXPECT_EQ(0u, session.Load(path.c_str()));
  session.SetValue("INAM_v2", "題名");
  EXPECT_NE(0u, session.Save(path.c_str()));
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A failed save is one box that names the file, captioned with why it failed.
TEST_F(Mp3infpDll, AFailedSaveIsOneBoxNamingTheFileAndWhy) {
  const struct {
    const char* name;
    Bytes bytes;
    bool readOnly, held;
    const char* reason;
  } cases[] = {
      {"bare.mp3", MpegAudio(5), true, false, "読み取り専用"},
      {"tagged.mp3", TightMp3(5), true, false, "読み取り専用"},
      {"held.mp3", TightMp3(5), false, true, "ほかのプログラムが使用中"},
      {"notes.txt", Bytes(300, 'x'), false, false, "タグを付けられない形式"},
  };
  const ScratchFolder scratch("failing");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = scratch.path() + "\\" + test.name;
    ASSERT_TRUE(WriteBytes(path, test.bytes));
    if (test.readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE holder = test.held ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr)
                              : INVALID_HANDLE_VALUE;
    EntryToSave entry;
    entry.path = path;
    std::copy(kValues.begin(), kValues.end(), entry.values.begin());
    std::vector<SeenBox> boxes;
    {
      BoxWatcher watcher;
      EXPECT_FALSE(SaveEntry(entry, nullptr, nullptr));
      boxes = watcher.boxes();
    }
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(test.reason, boxes[0].caption);
    EXPECT_EQ(path, boxes[0].text);
    EXPECT_EQ(test.bytes, ReadBytes(path));
  }
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (data.cFileName[0] != '.') names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// The library's folder for temporary files on the volume of `path`.
std::string TemporaryFolderOf(const std::string& path) {
  const std::wstring folder = journal::MakeUserRootOn(journal::VolumeOf(Wide(path))) + L"\\new";
  return std::string(folder.begin(), folder.end());
}

// Notes the folder's names while the new file is written.
class NamesWhileWriting : public mp3infp::Writer {
 public:
  explicit NamesWhileWriting(std::string folder) : folder_(std::move(folder)) {}
  bool Write(HANDLE file, uint64_t offset, const void* data, size_t length) override {
    if (names.empty()) names = FileNames(folder_);
    return mp3infp::Writer::Write(file, offset, data, length);
  }
  std::vector<std::string> names;

 private:
  std::string folder_;
};

// The next save in a folder removes what an ended save left there: only files of the library's
// own naming, and only beside a whole original.
TEST(Mp3infpLeftovers, TheNextSaveInAFolderRemovesItsOwnAndNothingElse) {
  const struct {
    const char* name;
    bool readOnly, folder;
    bool stays;
  } cases[] = {
      {"song.mp3.tagwhirl-new-12-345.tmp", false, false, false},
      {"other.mp3.tagwhirl-new-99-1.tmp", false, false, false},
      {"gone.mp3.tagwhirl-new-12-345.tmp", false, false, true},
      {"song.mp3.tagwhirl-new-x1-345.tmp", false, false, true},
      {"song.mp3.tmp", false, false, true},
      {"song.mp3.tagwhirl-new-7-8.tmp", true, false, true},
      {"song.mp3.tagwhirl-new-9-9.tmp", false, true, true},
  };
  const ScratchFolder scratch("leftovers");
  const std::string& folder = scratch.path();
  const std::string song = folder + "\\song.mp3";
  ASSERT_TRUE(WriteBytes(song, TightMp3(5)));
  ASSERT_TRUE(WriteBytes(folder + "\\other.mp3", TightMp3(2)));
  for (const auto& test : cases) {
    const std::string path = folder + "\\" + test.name;
    if (test.folder) {
      ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
      continue;
    }
    ASSERT_TRUE(WriteBytes(path, Bytes(10, 'p')));
    if (test.readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }

  mp3infp::Session session;
  ASSERT_EQ(0u, session.Load(song.c_str()));
  session.SetValue("INAM_v2", "a title longer than the room the old tag has");
  NamesWhileWriting writer(TemporaryFolderOf(song));
  ASSERT_EQ(0u, session.Save(song.c_str(), writer));

  // The name the save wrote under is one the sweep knows as its own, for the file it replaced.
  std::vector<std::string> temporary;
  const std::vector<std::string> after = FileNames(TemporaryFolderOf(song));
  for (const std::string& name : writer.names) {
    if (std::find(after.begin(), after.end(), name) == after.end() &&
        name.find("song.mp3.tagwhirl-new-") == 0)
      temporary.push_back(name);
  }
  ASSERT_EQ(1u, temporary.size());
  EXPECT_EQ(L"song.mp3", mp3infp::OriginalOfTemporary(Wide(temporary[0])));

  for (const auto& test : cases) {
    const std::string path = folder + "\\" + test.name;
    EXPECT_EQ(test.stays, GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) << test.name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (test.folder) RemoveDirectoryA(path.c_str());
  }
}

bool HoldsTemporary(const std::string& folder) {
  for (const std::string& name : FileNames(folder))
    if (mp3infp::IsTemporaryName(Wide(name))) return true;
  return false;
}

// Notes where the new file is while it is written: beside the original, in the library's folder
// of the volume, or nowhere to be seen.
class PlaceWhileWriting : public mp3infp::Writer {
 public:
  PlaceWhileWriting(std::string beside, std::string elsewhere)
      : beside_(std::move(beside)), elsewhere_(std::move(elsewhere)) {}
  bool Write(HANDLE file, uint64_t offset, const void* data, size_t length) override {
    if (place.empty())
      place = HoldsTemporary(beside_) ? "beside" : HoldsTemporary(elsewhere_) ? "elsewhere" : "?";
    return mp3infp::Writer::Write(file, offset, data, length);
  }
  std::string place;

 private:
  std::string beside_, elsewhere_;
};

// A file written anew is made in the library's folder of its volume, where it gets the list of
// who may use it that the original has (under Wine, whose folders hand down no lists unless
// given some, every file of the same owner), and renamed over the original; beside the original
// where its list is another or that folder cannot be had. The last case comes last: the folder
// is made again for the saves after it.
TEST(Mp3infpTemporaryFolder, TheNewFileIsMadeElsewhereOnlyWithTheOriginalsAccessList) {
  const struct {
    const char* what;
    std::function<void(const std::string&, const std::string&)> prepare, restore;  // song, ours
    const char* place;
  } cases[] = {
      {"on one volume with the same list", {}, {}, "elsewhere"},
      {"a list of its own",
       [](const std::string& song, const std::string&) {
         EXPLICIT_ACCESS_W access = {};
         BuildExplicitAccessWithNameW(&access, const_cast<wchar_t*>(L"EVERYONE"), GENERIC_ALL,
                                      SET_ACCESS, NO_INHERITANCE);
         PACL list = nullptr;
         ASSERT_EQ(DWORD(ERROR_SUCCESS), SetEntriesInAclW(1, &access, nullptr, &list));
         ASSERT_EQ(
             DWORD(ERROR_SUCCESS),
             SetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(song).c_str()), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, list, nullptr));
         LocalFree(list);
       },
       {},
       "beside"},
      {"a file where the folder should be",
       [](const std::string&, const std::string& ours) {
         RemoveDirectoryA(ours.c_str());
         ASSERT_TRUE(WriteBytes(ours, Bytes(1, 'x')));
       },
       [](const std::string&, const std::string& ours) { DeleteFileA(ours.c_str()); }, "beside"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const ScratchFolder scratch("place");
    const std::string song = scratch / "song.mp3";
    const std::string ours = TemporaryFolderOf(song);
    ASSERT_TRUE(WriteBytes(song, TightMp3(5)));
    mp3infp::Session session;
    ASSERT_EQ(0u, session.Load(song.c_str()));
    session.SetValue("INAM_v2", "a title longer than the room the old tag has");
    if (test.prepare) test.prepare(song, ours);
    PlaceWhileWriting writer(scratch.path(), ours);
    const DWORD saved = session.Save(song.c_str(), writer);
    if (test.restore) test.restore(song, ours);
    ASSERT_EQ(0u, saved);
    EXPECT_EQ(test.place, writer.place);
    EXPECT_EQ(std::vector<std::string>{"song.mp3"}, FileNames(scratch.path()));
    ASSERT_EQ(0u, session.Load(song.c_str()));
    char title[128] = {};
    session.GetValue("INAM_v2", title, sizeof title);
    EXPECT_STREQ("a title longer than the room the old tag has", title);
  }
}

// What ended saves left in the library's folder goes at the first save there: the library's own
// names of processes that no longer run (or of this one's number, which an earlier process had),
// and nothing held open, marked read-only, of another shape, or of another instance still
// running, whose save may be between its writing and its rename.
TEST(Mp3infpTemporaryFolder, TheSweepRemovesOnlyTheLeftoversOfEndedSaves) {
  const ScratchFolder scratch("sweep");
  const std::string folder = scratch.path();
  const std::string holder = scratch / "held.mp3";
  ASSERT_TRUE(WriteBytes(holder, Bytes(1, 'x')));
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-held");
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-release");
  std::string command = "HoldFile.exe \"" + holder + "\"";
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION other = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &other));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 20000));
  const std::string self = std::to_string(GetCurrentProcessId());
  const std::string running = std::to_string(other.dwProcessId);

  enum Kind { kPlain, kReadOnly, kHeld, kFolder };
  const struct {
    std::string name;
    Kind kind;
    bool stays;
  } cases[] = {
      {"a.mp3.tagwhirl-new-4294967292-1.tmp", kPlain, false},
      {"a.mp3.tagwhirl-new-" + self + "-2.tmp", kPlain, false},
      {"a.mp3.tagwhirl-new-" + running + "-3.tmp", kPlain, true},
      {"b.mp3.tagwhirl-new-4294967292-4.tmp", kHeld, true},
      {"c.mp3.tagwhirl-new-4294967292-5.tmp", kReadOnly, true},
      {"d.mp3.tagwhirl-new-4294967292-6.tmp", kFolder, true},
      {"a.mp3.tagwhirl-new-x1-7.tmp", kPlain, true},
      {"a.mp3.tmp", kPlain, true},
  };
  std::vector<HANDLE> open;
  for (const auto& test : cases) {
    const std::string path = scratch / test.name;
    if (test.kind == kFolder) {
      ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
      continue;
    }
    ASSERT_TRUE(WriteBytes(path, Bytes(10, 'p')));
    if (test.kind == kReadOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    if (test.kind == kHeld)
      open.push_back(
          CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  mp3infp::SweepTemporaryFolder(Wide(folder));

  for (HANDLE file : open) CloseHandle(file);
  SetEvent(release);
  WaitForSingleObject(other.hProcess, 20000);
  CloseHandle(other.hProcess);
  CloseHandle(other.hThread);
  CloseHandle(held);
  CloseHandle(release);
  for (const auto& test : cases) {
    const std::string path = scratch / test.name;
    EXPECT_EQ(test.stays, GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) << test.name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (test.kind == kFolder) RemoveDirectoryA(path.c_str());
  }
}

// Finds the property dialog of this process, reads it and closes it as Esc or OK would.
struct DialogWatcher {
  std::wstring kind, stream, heading1, heading2, heading3, title1, title2;
  WPARAM closeCommand = IDCANCEL;
  bool seen = false;
  void Watch() {
    // Up to a minute: under a loaded machine Wine can take many seconds to show the first one.
    for (int i = 0; i < 1200 && !seen; ++i) {
      Sleep(50);
      HWND dialog = FindWindowW(L"#32770", L"タグ情報");
      // Found once it is shown, after it has been filled.
      if (!dialog || !IsWindowVisible(dialog)) continue;
      auto text = [&](int id) {
        wchar_t buffer[256] = {};
        GetDlgItemTextW(dialog, id, buffer, 256);
        return std::wstring(buffer);
      };
      kind = text(1002), stream = text(1003);
      heading1 = text(1010), heading2 = text(1011), heading3 = text(1012);
      title1 = text(1100), title2 = text(1110);
      seen = true;
      // Esc and a click on OK arrive at the dialog procedure as these commands; the dialog
      // manager sends IDCANCEL for Esc although the dialog has no Cancel button. The real
      // keystroke and click, through X and Wine, are driven in tests/app/EndToEndTest.py.
      // The view returns only once the dialog has closed.
      PostMessageW(dialog, WM_COMMAND, closeCommand, 0);
    }
  }
};

TEST_F(Mp3infpDll, PropertyViewShowsTheTagsAndClosesWithOkOrCancel) {
  const ScratchFolder scratch("view");
  const std::string& folder = scratch.path();
  const std::string path = folder + "\\view.mp3";
  Bytes file = Tag(4, Frame(4, "TIT2", {3, 0xE8, 0xA1, 0xA8}), 100);
  Append(file, MpegAudio(2));
  ASSERT_TRUE(WriteBytes(path, file));
  DialogWatcher watcher;
  std::thread thread([&] { watcher.Watch(); });
  EXPECT_EQ(0u, library.ViewPropEx(nullptr, path.c_str()));
  thread.join();
  ASSERT_TRUE(watcher.seen);
  EXPECT_EQ(L"MP3", watcher.kind);
  EXPECT_EQ(L"MPEG 1 Layer 3, 44100 Hz, ステレオ, 0:00, 128 kbps", watcher.stream);
  EXPECT_EQ(L"（タグなし）", watcher.heading1);
  EXPECT_EQ(L"ID3v2.4", watcher.heading2);
  EXPECT_EQ(L"表", watcher.title2);
  EXPECT_NE(0u, library.ViewPropEx(nullptr, (folder + "\\missing.mp3").c_str()));

  // A format with one tag shows it in the first column, with the stream.
  const std::string flac = folder + "\\view.flac";
  ASSERT_TRUE(WriteBytes(
      flac, Flac({FlacBlock(mp3infp::FlacFile::kStreamInfo, FlacStreamInfo(48000, 1, 48000 * 125)),
                  FlacBlock(mp3infp::FlacFile::kVorbisComment,
                            VorbisCommentBody("v", {"TITLE=\xE8\xA1\xA8"}), true)})));
  DialogWatcher flacWatcher;
  std::thread flacThread([&] { flacWatcher.Watch(); });
  EXPECT_EQ(0u, library.ViewPropEx(nullptr, flac.c_str()));
  flacThread.join();
  EXPECT_EQ(L"FLAC", flacWatcher.kind);
  EXPECT_EQ(L"FLAC, 48000 Hz, モノラル, 2:05", flacWatcher.stream);
  EXPECT_EQ(L"Vorbis comment", flacWatcher.heading1);
  EXPECT_EQ(L"表", flacWatcher.title1);
  EXPECT_EQ(L"（タグなし）", flacWatcher.heading2);

  DialogWatcher okWatcher;
  okWatcher.closeCommand = IDOK;
  std::thread okThread([&] { okWatcher.Watch(); });
  EXPECT_EQ(0u, library.ViewPropEx(nullptr, path.c_str()));
  okThread.join();
  EXPECT_TRUE(okWatcher.seen);
}

}  // namespace
