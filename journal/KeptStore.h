// Where a save keeps the originals of the files it writes anew: hard links (copies where no link
// can be made) in numbered folders of a few dozen each, under the journal's folder. The one place
// that makes their names and folders and deletes them again.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <string>

namespace journal {

class KeptStore {
 public:
  // The store of the journal in `journalFolder`.
  explicit KeptStore(std::wstring journalFolder = {}) : journal_(std::move(journalFolder)) {}

  // The name the `number`-th original this process keeps goes under; `path` is the file it is
  // the original of.
  std::wstring NameFor(const std::wstring& path, unsigned number) const;
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

 private:
  std::wstring Inside(const wchar_t* name) const { return journal_ + L"\\" + name; }
  std::wstring journal_;
};

}  // namespace journal
