// Path texts in the code page the program runs in, taken apart by character: the second byte of
// a double-byte character (ソ is 0x83 0x5C in code page 932) may equal the backslash and is never
// a separator. Window-free, so that it builds and is tested natively too; the program and the tag
// library both use it. What it asks of the system is in PathTextWindows.cpp (natively,
// PathTextNative.cpp stands in for a Japanese system).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "paths/LeadBytes.h"

// The system's path limit in UTF-16 units, the terminating NUL included: a path holds at most
// one less, whatever bytes its characters take in the ANSI code page.
inline constexpr size_t kMaxPath = 260;

// The lead bytes of the system's ANSI code page, read from the system once. None in a code page
// without double-byte characters, such as UTF-8.
const LeadBytes& AnsiLeadBytes();
// Whether the ANSI code page is UTF-8.
bool AnsiIsUtf8();

// Whether `byte` starts a double-byte character of the ANSI code page.
bool IsLeadByte(unsigned char byte);

// The offset just past the last separator ('\\', '/', or the colon of a drive) that stands as a
// character of its own; 0 when there is none.
size_t EndOfLastSeparator(std::string_view path, bool withDriveColon);

// The last component of a path: the file name with its extension.
std::string LastComponent(const std::string& path);

// The text before the last backslash or slash (which is dropped); the text itself when it has
// none.
std::string CutAtLastSeparator(const std::string& path);

// `path` up to and including its last backslash or slash; empty when it has none.
std::string FolderOfPath(const std::string& path);

// Whether the last character (not byte) of `path` is a backslash or a slash.
bool EndsWithSeparator(const std::string& path);

// `folder`, a backslash unless it is empty or ends with a separator already, and `name`.
std::string JoinPath(const std::string& folder, const std::string& name);

// The extension of the last component, from its last dot (".mp3"); empty when it has none.
std::string ExtensionOf(std::string_view path);

// The UTF-16 units the system makes of `text`, which is in a code page with `leadBytes`, or in
// UTF-8: what the path limit counts. A byte that starts no character counts as the one stand-in
// character the system puts for it.
size_t Utf16Length(std::string_view text, const LeadBytes& leadBytes, bool utf8);
// The same in the ANSI code page.
size_t PathLength(std::string_view text);

#ifdef _WIN32
// The system's legacy ANSI code page (932 on Japanese systems), which stays what it is when the
// program runs in UTF-8: the code page of files that other programs wrote as "ANSI" text, and of
// ID3v1 text as Japanese players read it.
unsigned SystemLegacyCodePage();

// The folder of the program's own file, with its trailing separator; empty when it cannot be
// known (a name longer than the path limit among them).
std::wstring ProgramFolder();

// The one spelling of a file's path that the journal of a save knows it by, whoever records it
// (the program its copies, the tag library its writes): absolute, with the \\?\ prefix where the
// path, with the temporary names made beside it, would pass the path limit. Undo matches a copy
// with the library's writes to it by this spelling alone. Empty when the system cannot make the
// path absolute.
std::wstring FullPath(const std::wstring& path);
// `path` made absolute as the system does (dots resolved), without the prefix; empty when it
// cannot be.
std::wstring AbsolutePath(const std::wstring& path);
#endif
