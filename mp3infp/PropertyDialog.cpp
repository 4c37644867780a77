#include "mp3infp/PropertyDialog.h"

#include <cwchar>
#include <string>

#include "mp3infp/FileIo.h"
#include "mp3infp/Id3File.h"
#include "mp3infp/PropertyDialogIds.h"
#include "mp3infp/Session.h"

namespace mp3infp {
namespace {

constexpr Field kRows[] = {Field::kTitle, Field::kArtist, Field::kAlbum,  Field::kTrack,
                           Field::kGenre, Field::kYear,   Field::kComment};
constexpr TagKind kColumns[] = {TagKind::kId3v1, TagKind::kId3v2, TagKind::kRiffInfo};

struct DialogData {
  const char* path;
  const AudioFile* file;  // null for a file of no format we know
};

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::wstring FromAnsi(std::string_view text) { return Wide(SystemCodec().ToUnicode(text)); }

// What the dialog calls each kind of file, and the one tag of a format that has no other (shown
// in the first column); none for the formats with ID3 and RIFF INFO columns.
struct KindNames {
  FileKind kind;
  const wchar_t* name;
  const wchar_t* onlyTag;
};
constexpr KindNames kKindNames[] = {
    {FileKind::kMp3, L"MP3", nullptr},
    {FileKind::kRiffMp3, L"RIFF MP3 (RMP3)", nullptr},
    {FileKind::kWave, L"WAVE", nullptr},
    {FileKind::kFlac, L"FLAC", L"Vorbis comment"},
    {FileKind::kOggVorbis, L"Ogg Vorbis", L"Vorbis comment"},
    {FileKind::kOpus, L"Opus", L"Vorbis comment"},
    {FileKind::kMp4, L"MP4", L"MP4 (ilst)"},
};

const KindNames* NamesOf(FileKind kind) {
  for (const KindNames& names : kKindNames) {
    if (names.kind == kind) return &names;
  }
  return nullptr;
}

const wchar_t* KindText(FileKind kind) {
  const KindNames* names = NamesOf(kind);
  return names ? names->name : L"タグを扱えない形式";
}

const wchar_t* OnlyTagName(FileKind kind) {
  const KindNames* names = NamesOf(kind);
  return names ? names->onlyTag : nullptr;
}

// "FLAC, 44100 Hz, ステレオ, 3:25, 987 kbps", leaving out what is not known.
std::wstring StreamText(const StreamInfo& stream) {
  std::wstring text(stream.format.begin(), stream.format.end());
  const auto add = [&](const std::wstring& part) { text += (text.empty() ? L"" : L", ") + part; };
  if (stream.sampleRate) add(std::to_wstring(stream.sampleRate) + L" Hz");
  if (stream.channels == 1) {
    add(L"モノラル");
  } else if (stream.channels == 2) {
    add(L"ステレオ");
  } else if (stream.channels) {
    add(std::to_wstring(stream.channels) + L" ch");
  }
  if (stream.seconds > 0) {
    const auto seconds = static_cast<unsigned long long>(stream.seconds + 0.5);
    wchar_t length[32];
    swprintf(length, 32, L"%llu:%02llu", seconds / 60, seconds % 60);
    add(length);
  }
  if (stream.bitRate >= 500) add(std::to_wstring((stream.bitRate + 500) / 1000) + L" kbps");
  return text;
}

// The heading of a tag column, or nothing when the file does not have that tag.
std::wstring Heading(const AudioFile* audio, TagKind tag) {
  if (!audio) return L"";
  if (const wchar_t* only = OnlyTagName(audio->kind())) return tag == TagKind::kId3v1 ? only : L"";
  const auto* file = dynamic_cast<const Id3File*>(audio);
  if (!file) return L"";
  switch (tag) {
    case TagKind::kId3v1:
      return file->IsMp3() && file->id3v1() ? L"ID3v1" : L"";
    case TagKind::kId3v2:
      if (!file->IsMp3() || !file->id3v2()) return L"";
      return L"ID3v2." + std::to_wstring(file->id3v2()->version());
    case TagKind::kRiffInfo:
      return file->info() ? L"RIFF INFO" : L"";
    case TagKind::kDefault:
      break;
  }
  return L"";
}

std::wstring FieldText(const AudioFile& file, TagKind tag, Field field) {
  if (const auto* id3 = dynamic_cast<const Id3File*>(&file); id3 && tag == TagKind::kId3v2) {
    // Straight from the frames' Unicode, without a detour through the code page.
    const auto text = id3->Id3v2Text(field);
    return text ? Wide(*text) : L"";
  }
  if (OnlyTagName(file.kind())) tag = TagKind::kDefault;
  return FromAnsi(file.Get({field, tag}, SystemCodec()).value_or(""));
}

void Fill(HWND dialog, const DialogData& data) {
  SetDlgItemTextW(dialog, IDC_PROP_PATH, FromAnsi(data.path).c_str());
  SetDlgItemTextW(dialog, IDC_PROP_KIND,
                  KindText(data.file ? data.file->kind() : FileKind::kUnknown));
  if (data.file) SetDlgItemTextW(dialog, IDC_PROP_STREAM, StreamText(data.file->Stream()).c_str());
  for (int column = 0; column < 3; ++column) {
    const std::wstring heading = Heading(data.file, kColumns[column]);
    SetDlgItemTextW(dialog, IDC_PROP_HEADING_BASE + column,
                    heading.empty() ? L"（タグなし）" : heading.c_str());
    for (int row = 0; row < 7; ++row) {
      const int id = IDC_PROP_FIELD_BASE + 10 * column + row;
      if (heading.empty()) {
        EnableWindow(GetDlgItem(dialog, id), FALSE);
      } else {
        SetDlgItemTextW(dialog, id, FieldText(*data.file, kColumns[column], kRows[row]).c_str());
      }
    }
  }
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_INITDIALOG:
        Fill(dialog, *reinterpret_cast<const DialogData*>(lParam));
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        }
        break;
    }
  } catch (...) {
    // A dialog that cannot be filled closes rather than letting the exception into the system.
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool ShowPropertyDialog(HINSTANCE module, HWND owner, const char* path) {
  std::unique_ptr<AudioFile> file;
  if (!ReadAudioFile(path, file)) return false;
  DialogData data{path, file.get()};
  return DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_MP3INFP_PROPERTIES), owner, DialogProcedure,
                         reinterpret_cast<LPARAM>(&data)) > 0;
}

}  // namespace mp3infp
