// The loaded tag library (mp3infp.dll) and its entry points.
//
// Every call goes through a member function that checks its entry point first: a file of the
// library's name that lacks an entry point makes that one operation fail as it would fail on its
// own (Save and tag creation report failure, the type queries answer "nothing known"), instead
// of calling through a null pointer.
#pragma once

#include <windows.h>

#include "mp3infp/mp3infp.h"

class TagLibrary {
 public:
  // Loads `name` through the system's search, then from the folder of the program's own file,
  // and resolves the nine entry points by name. False when the library cannot be loaded.
  bool Open(const char* name);
  // Unloads the library; every operation fails safely afterwards.
  void Close();

  bool IsOpen() const { return module_ != nullptr; }
  // How many of the nine entry points the library provides.
  int ResolvedCount() const;

  DWORD Load(HWND owner, const char* path) const;
  DWORD GetValue(const char* name, char* buffer, DWORD bufferSize) const;
  DWORD SetValue(const char* name, const char* value) const;
  DWORD Save(const char* path) const;
  DWORD GetType() const;
  DWORD GetTagType() const;
  DWORD MakeId3v1(const char* path) const;
  DWORD MakeId3v2(const char* path) const;
  DWORD ViewPropEx(HWND owner, const char* path) const;
  // Optional, not one of the nine: a library without it saves without a journal (and answers
  // kMissingEntryPoint here).
  DWORD SetJournal(const wchar_t* folder) const;
  // Optional too, and callable from any thread: a library without it shows no current values.
  bool CanReadValues() const { return readValues_ != nullptr; }
  DWORD ReadValues(const char* path, char* buffer, DWORD bufferSize, DWORD* needed) const;

  bool HasJournal() const { return setJournal_ != nullptr; }
  // Whether the journal stopped recording in the middle of a save (mp3infp_GetJournalState);
  // false for a library without the entry point.
  bool JournalStopped() const;
  // Whether each thread has a current file of its own (mp3infp_GetThreadModel), so that files
  // may be saved side by side; false for a library without the entry point.
  bool CurrentFilePerThread() const;

  // What a failing call answers when its entry point is missing.
  static const DWORD kMissingEntryPoint = static_cast<DWORD>(-2);

 private:
  HMODULE module_ = nullptr;
  Mp3infpLoadFn load_ = nullptr;
  Mp3infpGetValueFn getValue_ = nullptr;
  Mp3infpSetValueFn setValue_ = nullptr;
  Mp3infpSaveFn save_ = nullptr;
  Mp3infpGetTypeFn getType_ = nullptr;
  Mp3infpGetTagTypeFn getTagType_ = nullptr;
  Mp3infpMakeTagFn makeId3v1_ = nullptr;
  Mp3infpMakeTagFn makeId3v2_ = nullptr;
  Mp3infpViewPropExFn viewPropEx_ = nullptr;
  Mp3infpSetJournalFn setJournal_ = nullptr;
  Mp3infpReadValuesFn readValues_ = nullptr;

  Mp3infpGetJournalStateFn journalState_ = nullptr;
  Mp3infpGetThreadModelFn threadModel_ = nullptr;
};

// The program's one library, loaded during static initialisation (app/Statics.cpp). It is
// constant-initialised, so it is usable whatever the order of the other statics.
extern TagLibrary theTagLibrary;

// Loads mp3infp into theTagLibrary and registers its release for process exit. When it cannot
// be found, shows "mp3infp.dll が見つかりません" with no owner and ends the process with code 0.
bool LoadTagLibrary();
