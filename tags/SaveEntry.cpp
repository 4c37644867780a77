#include "tags/SaveEntry.h"

#include <windows.h>

#include <shlwapi.h>

#include <cstring>

#include "mp3infp/Session.h"
#include "paths/PathText.h"
#include "resources/Texts.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "templates/CodeTable.h"

namespace {

// A copy of a read-only file (from a CD, a share, a file marked so) is read-only too, and the
// library could not tag it; it is our own new file, so it may be written.
void MakeWritable(const std::string& copy) {
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Why the library refused: its result code first, then what the file itself tells.
FailureReason ReasonOfResult(const std::string& target, DWORD result) {
  if (result == mp3infp::kCannotTag) return FailureReason::kNotTaggable;
  return ClassifyFailure(target, FailureReason::kSaveFailed);
}

// Both ID3 tags for an MP3 file that has neither, once per save: a file that cannot have them
// (read-only, locked) fails once, not once per field and tag.
bool MakeMissingId3Tags(const std::string& path) {
  const TagLibrary& library = theTagLibrary;
  if (library.GetType() != kMp3infpTypeMp3) return true;
  if (library.GetTagType() & (kMp3infpTagId3v1 | kMp3infpTagId3v2)) return true;
  // Either tag alone takes the values; the file fails only when it has neither.
  library.MakeId3v1(path.c_str());
  library.MakeId3v2(path.c_str());
  return (library.GetTagType() & (kMp3infpTagId3v1 | kMp3infpTagId3v2)) != 0;
}

// The loaded file's own value of `fieldKey`, as the list's reading shows it.
std::string OwnValue(const char* fieldKey) {
  std::string value(256, '\0');
  DWORD size = theTagLibrary.GetValue(fieldKey, value.data(), DWORD(value.size()));
  if (size == DWORD(-1)) return {};
  if (size >= value.size()) {
    value.assign(size + 1, '\0');
    size = theTagLibrary.GetValue(fieldKey, value.data(), DWORD(value.size()));
    if (size == DWORD(-1) || size >= value.size()) return {};
  }
  value.resize(size);
  return value;
}

// passUnchanged's reading: the loaded file's own values into `outcome`, and whether any value of
// `entry` would change them.
bool ChangesOwnValues(const EntryToSave& entry, SaveOutcome* outcome) {
  outcome->found = true;
  bool changes = false;
  for (int code = 0; code < kCodeCount; ++code) {
    if (!CodeTable[code].fieldKey) continue;
    outcome->current[code] = OwnValue(CodeTable[code].fieldKey);
    const std::string& value = entry.values[code];
    changes = changes || (!value.empty() && value != outcome->current[code]);
  }
  return changes;
}

bool HasValue(const EntryToSave& entry) {
  for (int code = 0; code < kCodeCount; ++code) {
    if (CodeTable[code].fieldKey && !entry.values[code].empty()) return true;
  }
  return false;
}

}  // namespace

CopyFileFunction theCopyFile = CopyFileA;

bool SetTagField(const std::string& path, const char* fieldKey, const std::string& value) {
  if (value.empty()) return true;
  const TagLibrary& library = theTagLibrary;
  const std::string key = fieldKey;
  if (library.GetType() != kMp3infpTypeMp3) {
    library.SetValue(key.c_str(), value.c_str());
    return true;
  }
  if (!MakeMissingId3Tags(path)) return false;
  const DWORD tags = library.GetTagType();
  if (tags & kMp3infpTagId3v1) library.SetValue((key + "_v1").c_str(), value.c_str());
  if (tags & kMp3infpTagId3v2) library.SetValue((key + "_v2").c_str(), value.c_str());
  if (tags & kMp3infpTagRiffInfo) library.SetValue((key + "_rmp").c_str(), value.c_str());
  return true;
}

SaveOutcome SaveEntryOutcome(const EntryToSave& entry, const char* folder, HWND owner) {
  const TagLibrary& library = theTagLibrary;
  SaveOutcome outcome;
  outcome.target = entry.path;

  // Into a folder, the copy is made first and everything happens to the copy: the user's
  // original stays as it was (also when it is read-only), and no tag is created in it.
  if (folder) {
    const std::string& name = entry.fileName;
    // The path limit counts characters, which in UTF-8 may take up to three bytes each: the
    // joining is done in UTF-16, where a MAX_PATH buffer holds exactly the limit.
    // Absolute first: the combining would make ".\\a\\..\\b" a folder at the drive's root.
    std::wstring wideFolder = AbsolutePath(WideFromActive(folder));
    if (wideFolder.empty()) wideFolder = WideFromActive(folder);
    const std::wstring wideName = WideFromActive(name);
    wchar_t destination[MAX_PATH];
    if (wideFolder.size() + 1 + wideName.size() >= MAX_PATH ||
        !PathCombineW(destination, wideFolder.c_str(), wideName.c_str())) {
      outcome.target = std::string(folder) + "\\" + name;
      outcome.reason = FailureReason::kCopyFailed;
      return outcome;
    }
    outcome.target = ActiveFromWide(destination);
    // A copy that fails (a file of that name exists already, no such folder, no room) must not
    // lead to saving into whatever file the destination names: that may be someone else's. What
    // a failed copy left (on a full disk, a part of the file) is ours only when no file of that
    // name was there before: fail-if-exists then guarantees that the copy made it.
    const bool existed = Exists(outcome.target);
    // A copy that undo would not know of is not made (the batch asks whether to go on without).
    if (!TheSaveJournal().RecordCreated(outcome.target)) return outcome;
    if (!theCopyFile(entry.path.c_str(), outcome.target.c_str(), TRUE)) {
      TheSaveJournal().RecordCopyFailed(outcome.target);
      outcome.reason = FailureReason::kCopyFailed;
      if (!existed && Exists(outcome.target)) {
        MakeWritable(outcome.target);
        outcome.copyRemoved = DeleteFileA(outcome.target.c_str()) != FALSE;
      }
      return outcome;
    }
    outcome.madeCopy = true;
    MakeWritable(outcome.target);
  }

  const std::string& target = outcome.target;
  // A file that cannot be loaded (deleted, renamed or locked since it entered the list) has no
  // values to set, and the library would then answer a save with success, writing nothing.
  DWORD result = library.Load(owner, target.c_str());
  if (result == 0 && entry.passUnchanged && !folder) {
    outcome.notTaggable = library.GetType() == kMp3infpTypeUnknown;
    outcome.unchanged = outcome.notTaggable || !ChangesOwnValues(entry, &outcome);
    // A save with nothing set writes nothing, and lets the loaded file's handle go.
    if (outcome.unchanged) {
      library.Save(target.c_str());
      return outcome;
    }
  }
  if (result == 0 && HasValue(entry)) {
    // A file whose tags cannot be made would be "saved" with nothing written.
    if (!MakeMissingId3Tags(target)) {
      result = mp3infp::kCannotOpen;
    } else {
      for (int code = 0; code < kCodeCount; ++code) {
        if (CodeTable[code].fieldKey)
          SetTagField(target, CodeTable[code].fieldKey, entry.values[code]);
      }
    }
  } else if (result != 0 && result != mp3infp::kCannotTag) {
    result = mp3infp::kCannotOpen;
  }
  if (result == 0) result = library.Save(target.c_str());
  if (result == 0) {
    outcome.saved = true;
    return outcome;
  }

  outcome.reason = ReasonOfResult(target, result);
  // The untagged or half-written copy must not pass for the user's file.
  if (outcome.madeCopy) {
    outcome.copyRemoved = DeleteFileA(target.c_str()) != FALSE;
    outcome.madeCopy = !outcome.copyRemoved;
  }
  return outcome;
}

bool SaveEntry(const EntryToSave& entry, const char* folder, HWND owner) {
  const SaveOutcome outcome = SaveEntryOutcome(entry, folder, owner);
  if (outcome.saved) return true;
  FailureReport report;
  report.Add(outcome.target, outcome.reason, outcome.copyRemoved);
  report.Show(1);
  return false;
}
