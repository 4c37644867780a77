#include "tags/TagLibrary.h"

#include <cstdlib>
#include <string>

#include "paths/PathText.h"
#include "resources/Texts.h"

constinit TagLibrary theTagLibrary;

namespace {

template <class Function>
void Resolve(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void ReleaseTagLibrary() { theTagLibrary.Close(); }

}  // namespace

bool TagLibrary::Open(const char* name) {
  Close();
  module_ = LoadLibraryA(name);
  if (!module_) {
    // Wide, so that the folder's name may be anything the file system holds, in any code page.
    const std::wstring folder = ProgramFolder();
    if (!folder.empty()) module_ = LoadLibraryW((folder + WideFromActive(name)).c_str());
  }
  if (!module_) return false;

  Resolve(module_, "mp3infp_Load", &load_);
  Resolve(module_, "mp3infp_GetValue", &getValue_);
  Resolve(module_, "mp3infp_SetValue", &setValue_);
  Resolve(module_, "mp3infp_Save", &save_);
  Resolve(module_, "mp3infp_GetType", &getType_);
  Resolve(module_, "mp3infp_mp3_GetTagType", &getTagType_);
  Resolve(module_, "mp3infp_mp3_MakeId3v1", &makeId3v1_);
  Resolve(module_, "mp3infp_mp3_MakeId3v2", &makeId3v2_);
  Resolve(module_, "mp3infp_ViewPropEx", &viewPropEx_);
  Resolve(module_, "mp3infp_SetJournal", &setJournal_);
  Resolve(module_, "mp3infp_ReadValues", &readValues_);

  Resolve(module_, "mp3infp_GetJournalState", &journalState_);
  Resolve(module_, "mp3infp_GetThreadModel", &threadModel_);
  return true;
}

void TagLibrary::Close() {
  if (module_) FreeLibrary(module_);
  *this = TagLibrary();
}

int TagLibrary::ResolvedCount() const {
  const void* entries[] = {
      reinterpret_cast<const void*>(load_),       reinterpret_cast<const void*>(getValue_),
      reinterpret_cast<const void*>(setValue_),   reinterpret_cast<const void*>(save_),
      reinterpret_cast<const void*>(getType_),    reinterpret_cast<const void*>(getTagType_),
      reinterpret_cast<const void*>(makeId3v1_),  reinterpret_cast<const void*>(makeId3v2_),
      reinterpret_cast<const void*>(viewPropEx_),
  };
  int count = 0;
  for (const void* entry : entries) count += entry != nullptr;
  return count;
}

DWORD TagLibrary::Load(HWND owner, const char* path) const {
  return load_ ? load_(owner, path) : kMissingEntryPoint;
}

DWORD TagLibrary::GetValue(const char* name, char* buffer, DWORD bufferSize) const {
  if (!getValue_) {
    if (buffer && bufferSize) buffer[0] = 0;
    return static_cast<DWORD>(-1);
  }
  return getValue_(name, buffer, bufferSize);
}

DWORD TagLibrary::SetValue(const char* name, const char* value) const {
  return setValue_ ? setValue_(name, value) : kMissingEntryPoint;
}

DWORD TagLibrary::Save(const char* path) const { return save_ ? save_(path) : kMissingEntryPoint; }

DWORD TagLibrary::SetJournal(const wchar_t* folder) const {
  return setJournal_ ? setJournal_(folder) : kMissingEntryPoint;
}

DWORD TagLibrary::ReadValues(const char* path, char* buffer, DWORD bufferSize,
                             DWORD* needed) const {
  return readValues_ ? readValues_(path, buffer, bufferSize, needed) : kMissingEntryPoint;
}

bool TagLibrary::JournalStopped() const { return journalState_ && journalState_() != 0; }

bool TagLibrary::CurrentFilePerThread() const { return threadModel_ && threadModel_() == 1; }

DWORD TagLibrary::GetType() const { return getType_ ? getType_() : kMp3infpTypeUnknown; }

DWORD TagLibrary::GetTagType() const { return getTagType_ ? getTagType_() : 0; }

DWORD TagLibrary::MakeId3v1(const char* path) const {
  return makeId3v1_ ? makeId3v1_(path) : kMissingEntryPoint;
}

DWORD TagLibrary::MakeId3v2(const char* path) const {
  return makeId3v2_ ? makeId3v2_(path) : kMissingEntryPoint;
}

DWORD TagLibrary::ViewPropEx(HWND owner, const char* path) const {
  return viewPropEx_ ? viewPropEx_(owner, path, 0, 0, 0, 0) : kMissingEntryPoint;
}

bool LoadTagLibrary() {
  if (!theTagLibrary.Open("mp3infp")) {
    ShowMessage(nullptr, texts::kTagLibraryMissing, nullptr, MB_OK);
    std::exit(0);
  }
  std::atexit(ReleaseTagLibrary);
  return true;
}
