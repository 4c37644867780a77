#include "mp3infp/TemporaryFolder.h"

#include <map>
#include <mutex>
#include <set>

#include "journal/KeptStore.h"
#include "mp3infp/FileIo.h"
#include "mp3infp/Leftovers.h"
#include "paths/SlimLock.h"

namespace mp3infp {
namespace {

constexpr wchar_t kFolderName[] = L"new";

SlimMutex theMutex;
// The library's folder on each volume asked for, by the volume's root; empty where it has none.
std::map<std::wstring, std::wstring, FolderLess> theFolderOnVolume;
std::set<std::wstring, FolderLess> theSweptVolumes;
// The same for each folder of files, once it has been asked for: empty where its files' temporary
// files go beside them. One look-up a file: finding a path's volume walks up its folders.
std::map<std::wstring, std::wstring, FolderLess> theFolderFor;

bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Inside the journal's folder for the volume, made as the journal makes it: one hidden folder at
// the root, as the recycle bin's, never entered through a link.
std::wstring MakeFolderOn(const std::wstring& volume) {
  // A share's root may not be ours to write to, and a rename there is the server's: beside,
  // where a file of that folder is allowed anyway.
  const UINT type = GetDriveTypeW(volume.c_str());
  if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE && type != DRIVE_RAMDISK) return {};
  const std::wstring root = journal::MakeUserRootOn(volume);
  if (root.empty()) return {};
  const std::wstring folder = root + L"\\" + kFolderName;
  CreateDirectoryW(folder.c_str(), nullptr);
  return IsPlainFolder(folder) ? folder : std::wstring();
}

DWORD VolumeSerial(const std::wstring& folder) {
  HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info = {};
  const bool read = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  return read ? info.dwVolumeSerialNumber : 0;
}

// The rename over the original must stay on one volume to be atomic (and to be allowed at all).
// The volume's root comes from the path: the serial numbers confirm it once for each folder of
// files, since asking costs a request to another process under Wine.
bool OnOneVolume(const std::wstring& folder, const std::wstring& ours) {
  const DWORD serial = VolumeSerial(folder);
  return serial != 0 && serial == VolumeSerial(ours);
}

std::wstring FolderOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// TemporaryFolderFor's answer for the folder of `path`, asked the first time; under theMutex.
std::wstring FolderOnVolumeOf(const std::wstring& path) {
  // A drive's path, in the long form or not; a share's (\\server\share, \\?\UNC\) stays beside.
  const bool longForm = path.starts_with(L"\\\\?\\");
  if (path.starts_with(L"\\\\") && !(longForm && path.size() > 6 && path[5] == L':')) return {};
  const std::wstring volume = journal::VolumeOf(path);
  if (volume.size() < 3 || volume[1] != L':') return {};
  auto made = theFolderOnVolume.find(volume);
  if (made == theFolderOnVolume.end()) {
    made = theFolderOnVolume.emplace(volume, MakeFolderOn(volume)).first;
    // Before any save of this process makes a file there: what the sweep finds of this process's
    // number then is an earlier process's.
    if (!made->second.empty() && theSweptVolumes.insert(volume).second)
      SweepTemporaryFolder(made->second);
  }
  if (made->second.empty() || !OnOneVolume(FolderOf(path), made->second)) return {};
  return made->second;
}

}  // namespace

std::wstring TemporaryFolderFor(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  std::lock_guard lock(theMutex);
  auto known = theFolderFor.find(folder);
  if (known == theFolderFor.end())
    known = theFolderFor.emplace(folder, FolderOnVolumeOf(path)).first;
  if (known->second.empty() || !path.starts_with(L"\\\\?\\")) return known->second;
  return L"\\\\?\\" + known->second;
}

void TemporaryBeside(const std::wstring& path) {
  std::lock_guard lock(theMutex);
  theFolderFor[FolderOf(path)].clear();
}

void TemporaryFolderLost(const std::wstring& path) {
  std::lock_guard lock(theMutex);
  theFolderFor.erase(FolderOf(path));
  theFolderOnVolume.erase(journal::VolumeOf(path));
}

}  // namespace mp3infp
