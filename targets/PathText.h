// Path texts in the ANSI code page, taken apart by character: the second byte of a double-byte
// character (ソ is 0x83 0x5C in code page 932) may equal the backslash and is never a separator.
// Window-free, so that it builds and is tested natively too.
#pragma once

#include <string>

#include "templates/LeadBytes.h"

// The lead bytes of the system's ANSI code page, read from the system once (natively, those of
// code page 932, the one the program is written for). None in a code page without double-byte
// characters, such as UTF-8.
const LeadBytes& AnsiLeadBytes();

// Whether `byte` starts a double-byte character of the ANSI code page.
bool IsLeadByte(unsigned char byte);

// The offset just past the last separator ('\\', '/', or the colon of a drive) that stands as a
// character of its own; 0 when there is none.
size_t EndOfLastSeparator(const std::string& path, bool withDriveColon);

// The last component of a path: the file name with its extension.
std::string LastComponent(const std::string& path);

// The text before the last backslash or slash (which is dropped); the text itself when it has
// none.
std::string CutAtLastSeparator(const std::string& path);

// Whether the last character (not byte) of `path` is a backslash or a slash.
bool EndsWithSeparator(const std::string& path);

// `folder`, a backslash unless it ends with a separator already, and `name`.
std::string JoinPath(const std::string& folder, const std::string& name);
