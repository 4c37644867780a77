#include "mp3infp/FileIo.h"

#include <aclapi.h>

#include "journal/Recorder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "mp3infp/Leftovers.h"
#include "mp3infp/TemporaryFolder.h"
#include "paths/PathText.h"

namespace mp3infp {
namespace {

constexpr size_t kCopyBlock = 1 << 20;

// Positioned by moving the file pointer rather than through an OVERLAPPED structure: under Wine
// every read or write given one reports a completion to the server, a round trip that cost more
// than the rest of a save with room in the padding (16 of the 22 round trips of loading and
// saving such a file). The handles are never shared between threads.
bool Seek(HANDLE file, uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, size_t length) {
  if (!Seek(file, offset)) return false;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (length) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, kCopyBlock));
    DWORD done = 0;
    if (!ReadFile(file, bytes, chunk, &done, nullptr) || done == 0) return false;
    bytes += done, length -= done;
  }
  return true;
}

bool SetSize(HANDLE file, uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The journal of the save under way, if the program gave one: what a write changes is on disk
// there before the change.
bool RecordInPlace(HANDLE file, const std::wstring& path, const SavePlan& plan,
                   const std::vector<Bytes>& old) {
  if (!LibraryJournal().active()) return true;
  const auto patches = plan.Patches();
  std::vector<journal::OldBytes> kept(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) {
    const Bytes& bytes = *patches[i].bytes;
    kept[i] = {patches[i].offset, bytes.size(), old[i],
               journal::BlockHashes(bytes.data(), bytes.size())};
  }
  return LibraryJournal().BeforeInPlace(path, file, plan.oldSize, std::move(kept));
}

void RecordOutcome(const std::wstring& path, bool written, uint64_t fileId) {
  if (!LibraryJournal().active()) return;
  if (!written) return LibraryJournal().Abandoned(path);
  LibraryJournal().Written(path, fileId);
}

// The new bytes go over the old ones. What they cover is kept first, so that a write that fails
// part way can be undone.
bool WriteInPlace(HANDLE file, const std::wstring& path, const SavePlan& plan, Writer& writer) {
  const auto patches = plan.Patches();
  std::vector<Bytes> old(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) {
    const uint64_t offset = patches[i].offset;
    if (offset >= plan.oldSize) continue;
    old[i].resize(std::min<uint64_t>(patches[i].bytes->size(), plan.oldSize - offset));
    if (!ReadAt(file, offset, old[i].data(), old[i].size())) return false;
  }
  const auto undo = [&](size_t written) {
    for (size_t k = 0; k < written; ++k) {
      SystemWriter().Write(file, patches[k].offset, old[k].data(), old[k].size());
    }
    SetSize(file, plan.oldSize);
    SystemWriter().Flush(file);
    return false;
  };
  if (!RecordInPlace(file, path, plan, old)) return false;
  for (size_t i = 0; i < patches.size(); ++i) {
    const Bytes& bytes = *patches[i].bytes;
    if (!writer.Write(file, patches[i].offset, bytes.data(), bytes.size())) return undo(i + 1);
  }
  // A write the system only cached can still fail on the way to a removable or network drive,
  // after we said it was saved: it must reach the disk first. Failing, the old bytes go back, as
  // far as the drive takes them.
  if (!writer.Flush(file)) return undo(patches.size());
  return true;
}

std::wstring UniqueSibling(const std::wstring& path, const wchar_t* kind) {
  return path + L"." + kind + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount()) + L".tmp";
}

// Copy buffers kept from one save to the next: a block this large, allocated afresh, comes back
// from the system as new pages each time, which cost as much as writing it. One for each save
// that runs at the same time.
class CopyBuffer {
 public:
  CopyBuffer() {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) buffer_ = std::move(spare_.back()), spare_.pop_back();
  }
  ~CopyBuffer() {
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(buffer_));
  }
  std::vector<uint8_t>& get() { return buffer_; }

 private:
  static inline std::mutex mutex_;
  static inline std::vector<std::vector<uint8_t>> spare_;
  std::vector<uint8_t> buffer_;
};

bool WriteCopy(HANDLE source, HANDLE target, const SavePlan& plan, Writer& writer) {
  CopyBuffer copyBuffer;
  std::vector<uint8_t>& buffer = copyBuffer.get();
  uint64_t position = 0;
  for (const auto& piece : plan.pieces) {
    if (!piece.kept) {
      if (!writer.Write(target, position, piece.bytes.data(), piece.bytes.size())) return false;
      position += piece.bytes.size();
      continue;
    }
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(piece.length, kCopyBlock)));
    for (uint64_t done = 0; done < piece.length;) {
      const size_t length =
          static_cast<size_t>(std::min<uint64_t>(piece.length - done, kCopyBlock));
      if (!ReadAt(source, piece.offset + done, buffer.data(), length)) return false;
      if (!writer.Write(target, position, buffer.data(), length)) return false;
      done += length, position += length;
    }
  }
  // On disk before it takes the original's place, so that a crash cannot leave an empty file
  // under the original's name.
  return writer.Flush(target);
}

// The same entries in the same order; the two lists may differ in unused room at their ends.
bool SameEntries(PACL a, PACL b) {
  if (!a || !b) return a == b;
  if (a->AceCount != b->AceCount) return false;
  for (DWORD i = 0; i < a->AceCount; ++i) {
    void* entryA = nullptr;
    void* entryB = nullptr;
    if (!GetAce(a, i, &entryA) || !GetAce(b, i, &entryB)) return false;
    const WORD size = static_cast<ACE_HEADER*>(entryA)->AceSize;
    if (size != static_cast<ACE_HEADER*>(entryB)->AceSize || std::memcmp(entryA, entryB, size) != 0)
      return false;
  }
  return true;
}

struct AccessList {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool read = false;
  explicit AccessList(HANDLE file)
      : read(GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             &list, nullptr, &descriptor) == ERROR_SUCCESS) {}
  ~AccessList() { LocalFree(descriptor); }
  bool Protected() const {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return GetSecurityDescriptorControl(descriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED);
  }
};

// Whether `copy` has the access list of `original`, as the file it will be under the original's
// name; true on a volume without security (FAT), which has no list to give.
bool SameAccessList(HANDLE original, HANDLE copy) {
  const AccessList old(original);
  if (!old.read) return true;
  const AccessList now(copy);
  return now.read && now.Protected() == old.Protected() && SameEntries(now.list, old.list);
}

// What the original carries besides its bytes goes with the new file: its attributes, its time of
// creation and its access control list (an inherited list is inherited again; a list of its own,
// or one that is shielded from the folder's, is copied as it is). A volume without security (FAT)
// has no list to copy; a list that was read but cannot be set fails the save. The new file,
// created in the same folder, mostly has the original's list already (both inherited it), and
// setting an inherited list again walks the folder's: that costs more than the rest of this.
// `sameList`: the caller found the lists the same already.
bool CarryOver(HANDLE original, HANDLE copy, bool sameList) {
  FILE_BASIC_INFO basic = {};
  if (!GetFileInformationByHandleEx(original, FileBasicInfo, &basic, sizeof basic)) return false;
  FILE_BASIC_INFO kept = {};  // a time of zero leaves that time as it is
  kept.CreationTime = basic.CreationTime;
  kept.FileAttributes = basic.FileAttributes;
  if (!SetFileInformationByHandle(copy, FileBasicInfo, &kept, sizeof kept)) return false;

  if (sameList) return true;
  const AccessList old(original);
  if (!old.read) return true;
  const AccessList now(copy);
  if (now.read && now.Protected() == old.Protected() && SameEntries(now.list, old.list))
    return true;
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | (old.Protected() ? PROTECTED_DACL_SECURITY_INFORMATION
                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
  return SetSecurityInfo(copy, SE_FILE_OBJECT, what, nullptr, nullptr, old.list, nullptr) ==
         ERROR_SUCCESS;
}

// The temporary file in the library's folder of the volume (TemporaryFolderFor), where the file
// made there gets the access list the original has, as one made beside it has or is given by
// CarryOver: set on a file made elsewhere, an inherited list would take that folder's entries
// along. Invalid where it is to be made beside: then nothing is left there.
HANDLE CreateElsewhere(HANDLE original, const std::wstring& path, std::wstring& temporary) {
  const std::wstring folder = TemporaryFolderFor(path);
  if (folder.empty()) return INVALID_HANDLE_VALUE;
  // Numbered rather than timed: files of one name from several folders share this folder.
  static std::atomic<unsigned> number = 0;
  temporary = folder + L"\\" + path.substr(path.find_last_of(L"\\/") + 1) +
              std::wstring(kTemporaryKind) + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++number) + L".tmp";
  if (temporary.size() >= kMaxPath && !temporary.starts_with(L"\\\\?\\"))
    temporary = L"\\\\?\\" + temporary;
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) TemporaryFolderLost(path);
    return file;
  }
  if (SameAccessList(original, file)) return file;
  CloseHandle(file);
  DeleteFileW(temporary.c_str());
  TemporaryBeside(path);
  return INVALID_HANDLE_VALUE;
}

// The new file is written whole and flushed, then renamed over the original: the rename is atomic,
// so the name holds the old file or the new one, never a part of either, and a failure anywhere
// before it leaves the original untouched. (ReplaceFile would move the original to a backup name
// for us to delete: two renames more than this one, which under Wine cost a fifth of the flushed
// copy, and each a new name in the original's folder.)
bool Replace(FileHandle& file, const std::wstring& path, const SavePlan& plan, Writer& writer,
             uint64_t& fileId) {
  std::wstring temporary;
  FileHandle target(CreateElsewhere(file.get(), path, temporary));
  const bool elsewhere = target.valid();
  if (!elsewhere) temporary = UniqueSibling(path, L"tagwhirl-new-");
  std::wstring kept;
  if (LibraryJournal().active()) {
    std::vector<journal::OldBytes> placed;
    for (const auto& patch : plan.Patches()) {
      const Bytes& bytes = *patch.bytes;
      placed.push_back({.offset = patch.offset,
                        .length = bytes.size(),
                        .blocks = journal::BlockHashes(bytes.data(), bytes.size())});
    }
    if (!LibraryJournal().BeforeRewrite(path, temporary, journal::FileId(file.get()),
                                        std::move(placed), kept)) {
      if (elsewhere) target.Close(), DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (!elsewhere)
    target.Reset(CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target.valid()) return false;
  bool written = CarryOver(file.get(), target.get(), elsewhere) &&
                 WriteCopy(file.get(), target.get(), plan, writer);
  // The rename keeps the new file's identity, which the journal records.
  fileId = LibraryJournal().active() ? journal::FileId(target.get()) : 0;
  written = writer.Close(target) && written;
  written = writer.Close(file) && written;
  // The original stays alive in the journal as a link: this also spares the rename freeing its
  // blocks.
  if (written && LibraryJournal().KeepOriginal(path, kept) &&
      MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  DeleteFileW(temporary.c_str());
  return false;
}

}  // namespace

std::wstring WidePath(const char* path) {
  if (!path || !*path) return {};
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
  wide.resize(length - 1);
  return FullPath(wide);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool FileHandle::Close() {
  const bool closed = !valid() || CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return closed;
}

HANDLE OpenForReading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenForWriting(const std::wstring& path) {
  // Asked for explicitly: where the attribute is emulated (Wine maps it to permissions) an
  // administrator could otherwise write a file its owner marked read-only.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileSource::FileSource(HANDLE file) : file_(file) {
  LARGE_INTEGER size;
  ok_ = GetFileSizeEx(file, &size) != FALSE;
  size_ = ok_ ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool FileSource::Read(uint64_t offset, void* buffer, size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  if (length > kReadAhead / 2) return ReadAt(file_, offset, buffer, length);
  if (offset < windowStart_ || offset + length > windowStart_ + window_.size()) {
    window_.resize(static_cast<size_t>(std::min<uint64_t>(kReadAhead, size_ - offset)));
    windowStart_ = offset;
    if (!ReadAt(file_, offset, window_.data(), window_.size())) {
      window_.clear();
      return false;
    }
  }
  std::memcpy(buffer, window_.data() + (offset - windowStart_), length);
  return true;
}

bool Writer::Write(HANDLE file, uint64_t offset, const void* data, size_t length) {
  if (!Seek(file, offset)) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, kCopyBlock));
    DWORD done = 0;
    if (!WriteFile(file, bytes, chunk, &done, nullptr) || done == 0) return false;
    bytes += done, length -= done;
  }
  return true;
}

bool Writer::Flush(HANDLE file) { return FlushFileBuffers(file) != FALSE; }

bool Writer::Close(FileHandle& file) { return file.Close(); }

Writer& SystemWriter() {
  static Writer writer;
  return writer;
}

bool WritePlan(FileHandle& file, const std::wstring& path, const SavePlan& plan, Writer& writer) {
  SweepLeftovers(path);
  bool written;
  uint64_t fileId = 0;
  if (plan.InPlace()) {
    written = WriteInPlace(file.get(), path, plan, writer);
    if (LibraryJournal().active()) fileId = journal::FileId(file.get());
    // The bytes are on the disk once the flush succeeded: a close that fails after it fails the
    // save, but the journal says what the file holds.
    const bool closed = writer.Close(file);
    RecordOutcome(path, written, fileId);
    return written && closed;
  }
  written = Replace(file, path, plan, writer, fileId);
  RecordOutcome(path, written, fileId);
  return written;
}

journal::Recorder& LibraryJournal() {
  static journal::Recorder recorder;
  return recorder;
}

}  // namespace mp3infp
