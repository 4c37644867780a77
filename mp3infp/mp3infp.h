// The contract between tagwhirl and its tag library, mp3infp.dll. The program resolves these entry
// points by name at run time (tags/TagLibrary.h); the library exports them under their plain names.
//
// The library keeps one current file. All strings are narrow, in the ANSI code page.
#pragma once

#include <windows.h>

// 1: each thread that calls the library has a current file of its own (Load, GetValue, SetValue,
// Save, the tag queries and MakeId3v1/v2 act on the calling thread's), and the journal takes the
// records of saves made on several threads at once. A program may then save several files side
// by side, one on each of its threads, never the same file on two. Optional: a library without
// it has one current file, and is called from one thread.
typedef DWORD(WINAPI* Mp3infpGetThreadModelFn)();

#ifdef MP3INFP_BUILDING
#define MP3INFP_API extern "C" __declspec(dllexport)
#else
#define MP3INFP_API extern "C"
#endif

// Values of mp3infp_GetType.
enum : DWORD {
  kMp3infpTypeUnknown = 0,  // no current file, or a file the library cannot tag
  kMp3infpTypeMp3 = 1,      // MPEG audio, bare or wrapped in RIFF (form RMP3)
  kMp3infpTypeWave = 2,     // RIFF WAVE
  kMp3infpTypeFlac = 3,
  kMp3infpTypeOggVorbis = 4,
  kMp3infpTypeOpus = 5,
  kMp3infpTypeMp4 = 6,  // MP4 audio (AAC or ALAC): .m4a, .mp4, .m4b
};

// Flags of mp3infp_mp3_GetTagType.
enum : DWORD {
  kMp3infpTagId3v1 = 1,
  kMp3infpTagId3v2 = 2,
  kMp3infpTagRiffInfo = 4,  // RIFF MP3 with LIST/INFO, the "_rmp" value names
};

// Makes `path` the current file and reads its tags. Returns 0 on success, non-zero when the file
// cannot be read (the current file is then empty: type unknown, no tags). Until the next Save or
// Load the library keeps a file it may write open, sharing it for reading only: nothing else
// writes it between the reading and the save.
typedef DWORD(WINAPI* Mp3infpLoadFn)(HWND owner, const char* path);

// Copies the value `name` of the current file into `buffer` (always NUL-terminated when
// bufferSize > 0). Returns the value's length in bytes without the NUL, or (DWORD)-1 when the
// name is unknown or the current file has no such tag; a result >= bufferSize means cut short.
typedef DWORD(WINAPI* Mp3infpGetValueFn)(const char* name, char* buffer, DWORD bufferSize);

// Sets the value `name` of the current file in memory: a field key (IART, IPRD, INAM, TRACK,
// IGNR, ICRD, ICMT) alone or, for an MP3 file, with "_v1", "_v2" or "_rmp"; FLAC, Ogg Vorbis,
// Opus and MP4 files take the key alone. Returns 0 when the name is known and
// the current file has a place for it; a value it has no place for makes the next Save fail.
typedef DWORD(WINAPI* Mp3infpSetValueFn)(const char* name, const char* value);

// Writes the tags made for the current file (MakeId3v1/MakeId3v2) and the values set since the
// last Load into the file at `path` (the loaded file, or a copy of it), which is read anew, in
// one write. Returns 0 on success, also when nothing was made or set (the file is then not
// touched); on failure (a file it cannot tag or cannot parse safely, read-only, locked, a full
// disk) that file is left byte for byte as it was.
typedef DWORD(WINAPI* Mp3infpSaveFn)(const char* path);

// The kind of the current file (kMp3infpType...).
typedef DWORD(WINAPI* Mp3infpGetTypeFn)();

// The tags the current MP3 file has (kMp3infpTag... flags).
typedef DWORD(WINAPI* Mp3infpGetTagTypeFn)();

// Creates an empty ID3v1 or ID3v2 tag. For the current file the tag is made in memory: the tag
// flags show it at once, and the next Save writes it together with the values, into the file that
// Save names (so saving into a copy leaves the loaded file untouched); a Load before any Save
// drops it. A file that could not be written (read-only, locked, not understood) is refused here
// already. Any other file gets the tag written at once. Returns 0 on success (also when the tag
// exists already).
typedef DWORD(WINAPI* Mp3infpMakeTagFn)(const char* path);

// Shows the property view of the file at `path`, modal to `owner`. The four trailing arguments
// are reserved and passed as 0. Returns 0 when the view was shown.
typedef DWORD(WINAPI* Mp3infpViewPropExFn)(HWND owner, const char* path, DWORD reserved1,
                                           DWORD reserved2, DWORD reserved3, DWORD reserved4);

// Records every write the library makes from now on into the save journal in `folder` (a folder
// whose journal the program has begun), ahead of the change, so that the program can undo the
// save; null stops. The path is wide: the folder lies under the user's profile, whose name the
// narrow code page may not hold. Returns 0 on success. Optional: a library without it saves
// without a journal.
typedef DWORD(WINAPI* Mp3infpSetJournalFn)(const wchar_t* folder);

// Reads the values of the seven field keys (IART, IPRD, INAM, TRACK, IGNR, ICRD, ICMT, as
// GetValue answers the key alone; empty where the file has none) of the file at `path` into
// `buffer`, one NUL-terminated text after another. The current file and its lock are not touched:
// it may be called from another thread while the current file is loaded and saved, and the file
// is opened for reading only, sharing it with any writer. Returns 0 on success, 3 when the file
// cannot be read, 4 for a file the library cannot tag, 7 when the values do not fit: `*needed`
// (when not null) then says how many bytes they take. Optional: a library without it shows no
// current values, and every value is saved.
typedef DWORD(WINAPI* Mp3infpReadValuesFn)(const char* path, char* buffer, DWORD bufferSize,
                                           DWORD* needed);

// 1 when the journal given by mp3infp_SetJournal stopped recording because a record could not be
// written (its volume is full): every write that needs a record is refused from then on, until
// the program gives another journal or none. 0 otherwise. Optional, as mp3infp_SetJournal is.
typedef DWORD(WINAPI* Mp3infpGetJournalStateFn)();

#ifdef MP3INFP_BUILDING
MP3INFP_API DWORD WINAPI mp3infp_ReadValues(const char* path, char* buffer, DWORD bufferSize,
                                            DWORD* needed);
MP3INFP_API DWORD WINAPI mp3infp_SetJournal(const wchar_t* folder);
MP3INFP_API DWORD WINAPI mp3infp_GetJournalState();
MP3INFP_API DWORD WINAPI mp3infp_GetThreadModel();
MP3INFP_API DWORD WINAPI mp3infp_Load(HWND owner, const char* path);
MP3INFP_API DWORD WINAPI mp3infp_GetValue(const char* name, char* buffer, DWORD bufferSize);
MP3INFP_API DWORD WINAPI mp3infp_SetValue(const char* name, const char* value);
MP3INFP_API DWORD WINAPI mp3infp_Save(const char* path);
MP3INFP_API DWORD WINAPI mp3infp_GetType();
MP3INFP_API DWORD WINAPI mp3infp_mp3_GetTagType();
MP3INFP_API DWORD WINAPI mp3infp_mp3_MakeId3v1(const char* path);
MP3INFP_API DWORD WINAPI mp3infp_mp3_MakeId3v2(const char* path);
MP3INFP_API DWORD WINAPI mp3infp_ViewPropEx(HWND owner, const char* path, DWORD reserved1,
                                            DWORD reserved2, DWORD reserved3, DWORD reserved4);
#endif
