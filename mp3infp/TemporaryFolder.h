// Where a save that rewrites a file makes its temporary file. Under Wine, making a name that is
// not there yet reads the whole folder, to compare each name without regard to case: beside the
// original, in a folder of 10,000 files, that read was most of the save, and a folder's saves grew
// with the square of its files. Made in a small folder of the library's own on the same volume
// and renamed over the original, whose name exists and is found with one look-up, each save costs
// what it costs in a small folder. On Windows, whose folders keep their names in an index, either
// place costs the same, and the rename is as atomic as the one beside.
#pragma once

#include <windows.h>

#include <string>

namespace mp3infp {

// The folder of the library's temporary files for `path` (an absolute path), beside the journal's
// kept originals on that volume: VOLUME\.tagwhirl-kept\USER\new. Made, and swept of what ended
// saves left there (SweepTemporaryFolder), the first time it is asked for in this process; asked
// once for each folder of files. Empty where the file's temporary file goes beside it: a share or
// a drive that is not local, a volume where the folder cannot be made or a link stands in its
// way, a folder of files found on another volume than it, or one that TemporaryBeside named.
std::wstring TemporaryFolderFor(const std::wstring& path);

// The files of the folder of `path` get their temporary files beside them from now on: the
// library's folder gives them another access list than the one they have.
void TemporaryBeside(const std::wstring& path);

// The folder turned out unusable (it was removed, or a file took its name): the next file made
// there asks for it again.
void TemporaryFolderLost(const std::wstring& path);

}  // namespace mp3infp
