// Where a save keeps the originals of the files it writes anew: hard links (copies where no link
// can be made) in numbered folders of a few dozen each, under the journal's folder for files on
// its volume, and for files on another volume under that volume's own folder (KeptRootOn), where
// the volume allows one: keeping them then costs neither a copy nor room on the journal's volume,
// and undo puts them back with a rename. The one place that makes their names and folders, puts
// them back and deletes them again.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace journal {

// The volume `path` lies on, as its root ("D:\\"); empty when the system cannot say.
std::wstring VolumeOf(const std::wstring& path);
// The folder at the root of `volume` that holds the kept originals of files on it of the journal
// in `journalFolder`: hidden and system, as the recycle bin's, one folder a user (by SID) inside,
// and in it one a journal, so that instances with journals of their own (TAGWHIRL_JOURNAL) never
// clean up each other's originals.
std::wstring KeptRootOn(const std::wstring& volume, const std::wstring& journalFolder);
// Makes the folders of `root` (KeptRootOn) and its kept folder; false where the volume does not
// allow them, or a link stands in their place.
bool MakeKeptRoot(const std::wstring& root);
// The user's folder at the root of `volume`, which holds each journal's (KeptRootOn) and the tag
// library's folder for files written anew; made where missing. Empty where the volume does not
// allow it, or a link stands in its place.
std::wstring MakeUserRootOn(const std::wstring& volume);
// Gives `path` the bytes of the original kept as `kept`, which is deleted then; false, with both
// as they were, when it could not.
bool PutBack(const std::wstring& kept, const std::wstring& path);
// Moves the original of `path`, kept as `kept`, where no cleanup of ours goes (a folder
// not-restored beside the kept folder, never through a link), under the file's own name; copies
// it there where it cannot be moved. Where it now lies; `kept` itself when it could be neither
// moved nor copied: it must then stay where it is.
std::wstring SetAside(const std::wstring& kept, const std::wstring& path);

class KeptStore {
 public:
  // The store of the journal in `journalFolder`.
  explicit KeptStore(std::wstring journalFolder = {}) : journal_(std::move(journalFolder)) {}

  // The name the `number`-th original this process keeps goes under, the `ordinal`-th (from 0)
  // of its save; `path` is the file it is the original of.
  std::wstring NameFor(const std::wstring& path, unsigned number, unsigned ordinal);
  // A save begins that may keep the originals of `paths`: the folders their NameFor names will
  // need are made now, before any file is written.
  void MakeFolders(const std::vector<std::wstring>& paths);
  // Keeps the original at `path` as `kept` (a name NameFor gave): a hard link or, where none can
  // be made, a copy.
  bool Keep(const std::wstring& path, const std::wstring& kept) const;

  // Whether `kept` is a name this store gives (NameFor): what a journal names as a kept original
  // is deleted and moved by undo, so a name read from one is checked first.
  bool Owns(const std::wstring& kept) const;

  // A save begins: the originals the last one kept are moved aside, to be deleted once it is
  // over (DeleteRetired), and the store is ready for new ones.
  void Retire() const;
  // The originals moved aside by Retire, now or, where a thread can be started, meanwhile.
  void DeleteRetired() const;
  void DeleteRetiredLater() const;
  // Every kept original, with the folders that held them.
  void DeleteAll() const;
  // For a journal that cannot be trusted: every original it may have kept, and its `records`, go
  // where no cleanup of ours goes (a folder damaged-journal beside each kept folder), never to be
  // deleted by us: one may be a file's only copy. The folders that now hold kept originals.
  std::vector<std::wstring> SetAsideAll(const std::wstring& records) const;

  // The folders on other volumes that hold kept originals of this journal's saves, as the
  // journal's folder names them (only folders of KeptRootOn's shape).
  std::vector<std::wstring> VolumeRoots() const;

 private:
  std::wstring Inside(const wchar_t* name) const { return journal_ + L"\\" + name; }
  // The folder whose kept folder takes the original of `path`: the journal's, or its volume's.
  const std::wstring& RootFor(const std::wstring& path);
  const std::wstring& RootOn(const std::wstring& volume) const;

  std::wstring journal_;
  std::wstring volume_;  // the journal's, once asked
  std::map<std::wstring, std::wstring> rootOfVolume_;
  std::wstring lastFolder_, lastRoot_;                   // one question a folder of files
  mutable std::map<std::wstring, std::wstring> rootOn_;  // KeptRootOn of each volume, once asked
};

}  // namespace journal
