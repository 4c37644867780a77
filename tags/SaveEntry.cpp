#include "tags/SaveEntry.h"

#include <windows.h>

#include <shlwapi.h>

#include <cstring>

#include "resources/Texts.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "templates/CodeTable.h"

namespace {

// The boxes of saving have no owner, but are task-modal: while one is up, nothing else in the
// program takes input, so that no second save, removal or new rule runs inside the loop of rows
// that waits for it and changes the list under it.
const UINT kSaveBoxStyle = MB_OK | MB_TASKMODAL;

void ReportSaveFailure(const std::string& target) {
  ShowMessage(nullptr, target, texts::kSaveFailed, kSaveBoxStyle);
}

// A copy of a read-only file (from a CD, a share, a file marked so) is read-only too, and the
// library could not tag it; it is our own new file, so it may be written.
void MakeWritable(const std::string& copy) {
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

void SetTagField(const std::string& path, const char* fieldKey, const std::string& value) {
  if (value.empty()) return;
  const TagLibrary& library = theTagLibrary;
  const std::string key = fieldKey;
  if (library.GetType() != kMp3infpTypeMp3) {
    library.SetValue(key.c_str(), value.c_str());
    return;
  }
  DWORD tags = library.GetTagType();
  if (!(tags & (kMp3infpTagId3v1 | kMp3infpTagId3v2))) {
    if (library.MakeId3v1(path.c_str()) != 0)
      ShowMessage(nullptr, texts::kMakeId3v1Failed, nullptr, kSaveBoxStyle);
    if (library.MakeId3v2(path.c_str()) != 0)
      ShowMessage(nullptr, texts::kMakeId3v2Failed, nullptr, kSaveBoxStyle);
    tags = library.GetTagType();
  }
  if (tags & kMp3infpTagId3v1) library.SetValue((key + "_v1").c_str(), value.c_str());
  if (tags & kMp3infpTagId3v2) library.SetValue((key + "_v2").c_str(), value.c_str());
  if (tags & kMp3infpTagRiffInfo) library.SetValue((key + "_rmp").c_str(), value.c_str());
}

bool SaveEntry(const EntryToSave& entry, const char* folder, HWND owner) {
  const TagLibrary& library = theTagLibrary;

  // Into a folder, the copy is made first and everything happens to the copy: the user's
  // original stays as it was (also when it is read-only), and no tag is created in it.
  std::string target = entry.path;
  if (folder) {
    const std::string& name = entry.fileName;
    // The path limit counts characters, which in UTF-8 may take up to three bytes each: the
    // joining is done in UTF-16, where a MAX_PATH buffer holds exactly the limit.
    const std::wstring wideFolder = WideFromActive(folder), wideName = WideFromActive(name);
    wchar_t destination[MAX_PATH];
    if (wideFolder.size() + 1 + wideName.size() >= MAX_PATH ||
        !PathCombineW(destination, wideFolder.c_str(), wideName.c_str())) {
      ReportSaveFailure(std::string(folder) + "\\" + name);
      return false;
    }
    target = ActiveFromWide(destination);
    // A copy that fails (a file of that name exists already, no such folder, no room) must not
    // lead to saving into whatever file the destination names: that may be someone else's.
    TheSaveJournal().RecordCreated(target);
    if (!CopyFileA(entry.path.c_str(), target.c_str(), TRUE)) {
      TheSaveJournal().RecordCopyFailed(target);
      ReportSaveFailure(target);
      return false;
    }
    MakeWritable(target);
  }

  // A file that cannot be loaded (deleted, renamed or locked since it entered the list) has no
  // values to set, and the library would then answer a save with success, writing nothing.
  if (library.Load(owner, target.c_str()) != 0) {
    ReportSaveFailure(target);
    return false;
  }
  for (int code = 0; code < kCodeCount; ++code) {
    if (!CodeTable[code].fieldKey) continue;
    SetTagField(target, CodeTable[code].fieldKey, entry.values[code]);
  }

  if (library.Save(target.c_str()) != 0) {
    ReportSaveFailure(target);
    return false;
  }
  return true;
}
