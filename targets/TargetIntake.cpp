// Taking files and folders into the list: one intake's search of the folders, and each file's
// row.
#include <shlwapi.h>

#include <boost/make_shared.hpp>
#include <set>
#include <tuple>
#include <vector>

#include "mp3infp/Leftovers.h"
#include "paths/PathText.h"
#include "resources/Texts.h"
#include "targets/TargetListView.h"
#include "templates/MatchRule.h"
#include "window/Controls.h"

namespace {

// The names the box after an intake that left some out lists at most.
const size_t kListedNames = 5;

// `name` in the ANSI code page, when the code page holds every one of its characters: converted
// back, it gives the same name.
bool ToAnsi(const wchar_t* name, std::string* ansi) {
  const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string text(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, name, -1, &text[0], size, nullptr, nullptr);
  text.resize(size - 1);
  *ansi = text;
  const int wideSize = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (wideSize <= 0) return false;
  std::wstring back(wideSize, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &back[0], wideSize);
  back.resize(wideSize - 1);
  return back == name;
}

class FolderHandle {
 public:
  explicit FolderHandle(const wchar_t* folder)
      : handle_(CreateFileW(folder, FILE_LIST_DIRECTORY,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
  ~FolderHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

// A folder's identity: its volume's serial number and its file index. A link (a junction, a
// symbolic link) to a folder has the identity of the folder it leads to.
struct TargetListView::FolderId {
  DWORD volume = 0;
  ULONGLONG index = 0;
  bool operator<(const FolderId& other) const {
    return std::tie(volume, index) < std::tie(other.volume, other.index);
  }
};

struct TargetListView::IntakeState {
  std::set<FolderId> folders;
  std::set<std::string> brokenRules;
  int unwritableNames = 0;
  IntakeCounts counts;
  // As the code page shows them (characters it lacks as question marks); at most kListedNames.
  std::vector<std::string> listedNames;
};

TargetListView::TargetListView() = default;
TargetListView::~TargetListView() = default;

TargetListView::Intake::Intake(TargetListView& list) : list_(list), outermost_(!list.intake_) {
  if (!outermost_) return;
  // The readers start on the first rows while the intake goes on: under Wine the intake works in
  // the process and the reading waits on the server, so the two overlap. Held back until the
  // intake ended, the 10,000 files of the benchmark showed their values 0.7 s later, and the
  // intake was no faster.
  list_.intake_ = std::make_unique<IntakeState>();
}

TargetListView::Intake::~Intake() {
  if (!outermost_) return;
  const std::unique_ptr<IntakeState> state = std::move(list_.intake_);
  list_.lastIntake_ = state->counts;
  if (state->unwritableNames == 0) return;
  wchar_t count[256];
  wsprintfW(count, texts::kUnwritableNames, state->unwritableNames);
  std::wstring text = count;
  for (const std::string& name : state->listedNames) text += L"\n" + WideFromActive(name);
  if (state->unwritableNames > static_cast<int>(state->listedNames.size())) {
    wsprintfW(count, texts::kMoreNames,
              state->unwritableNames - static_cast<int>(state->listedNames.size()));
    text += L"\n";
    text += count;
  }
  // No owner, but task-modal: nothing else of the program takes input while it is up.
  MessageBoxW(nullptr, text.c_str(), texts::kErrorCaption, MB_OK | MB_TASKMODAL);
}

void TargetListView::AddPath(std::string path) {
  Intake intake(*this);
  // The system's path limit counts characters: in UTF-8 a path may take more bytes than that.
  if (path.empty() || PathLength(path) >= MAX_PATH || !PathFileExistsA(path.c_str())) return;
  if (PathIsDirectoryA(path.c_str()))
    ScanFolder(path);
  else
    AddFile(path);
}

void TargetListView::AddFile(const std::string& path) {
  // The tag library's own temporary files, left by a save that was ended, are no one's music;
  // the library's next save in their folder removes them.
  if (mp3infp::IsTemporaryName(WideFromActive(LastComponent(path)))) return;
  boost::shared_ptr<TargetItem> item = boost::make_shared<TargetItem>();
  item->path = path;
  items.push_back(item);

  const int row = InsertItem(hwnd(), RowCount(), LastComponent(path).c_str(),
                             reinterpret_cast<LPARAM>(item.get()));
  if (row < 0) return;
  if (reader_) reader_->Add(item.get());
  ++intake_->counts.added;
  if (progress) progress->Advance();
  for (size_t index = 0; index < rules.size(); ++index) {
    const std::string& rule = rules[index];
    if (intake_->brokenRules.count(rule)) continue;
    const RuleSource source{RuleSource::kRulesFile,
                            index < ruleLines.size() ? ruleLines[index] : 0};
    const int outcome = ApplyRuleOutcome(row, path, rule, source);
    if (outcome == RuleMatch::kFits) {
      ++intake_->counts.filled;
      break;
    }
    // Reported once: for the rest of this intake the rule does not fit.
    if (outcome == RuleMatch::kError) intake_->brokenRules.insert(rule);
  }
}

void TargetListView::ScanFolder(std::string folder) { EnterFolder(folder, nullptr); }

void TargetListView::EnterFolder(const std::string& folder, const FolderId* known) {
  Intake intake(*this);
  // Paths in buffers of the path limit in characters: in UTF-8 a name may take more than 260
  // bytes. The pattern's full path gives the folder's own with its closing separator ("C:\"
  // stays a root, not the current folder of drive C).
  wchar_t pattern[MAX_PATH];
  if (!PathCombineW(pattern, WideFromActive(folder).c_str(), L"*.*")) return;
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(pattern, MAX_PATH, full, nullptr);
  if (length < 3 || length >= MAX_PATH) return;
  const std::string root = CutAtLastSeparator(ActiveFromWide(full));
  full[length - 3] = L'\0';
  FolderHandle handle(full);
  if (handle.get() == INVALID_HANDLE_VALUE) return;

  // A folder whose identity cannot be read is searched all the same; the path limit still ends
  // any loop through it. Asking a folder for its identity costs more than listing it (under Wine
  // a millisecond), so only the folders named by the user and those behind links ask: a folder
  // that is no link lies on its parent's volume, and the listing gives its file index.
  FolderId id;
  bool identified = known != nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (known) {
    id = *known;
  } else if (GetFileInformationByHandle(handle.get(), &info)) {
    id.volume = info.dwVolumeSerialNumber;
    id.index = (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identified = true;
  }
  if (identified && !intake_->folders.insert(id).second) return;

  // The listing stays in its buffer while the sub-folders in it are searched.
  std::vector<LONGLONG> buffer(16 * 1024 / sizeof(LONGLONG));
  while (GetFileInformationByHandleEx(handle.get(), FileIdBothDirectoryInfo, buffer.data(),
                                      DWORD(buffer.size() * sizeof buffer[0]))) {
    for (const char* entry = reinterpret_cast<const char*>(buffer.data());;) {
      const auto& found = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
      const std::wstring wide(found.FileName, found.FileNameLength / sizeof(wchar_t));
      if (wide != L"." && wide != L"..") {
        FolderId sub;
        sub.volume = id.volume;
        sub.index = ULONGLONG(found.FileId.QuadPart);
        AddEntry(root, wide, found.FileAttributes, identified ? &sub : nullptr);
      }
      if (found.NextEntryOffset == 0) break;
      entry += found.NextEntryOffset;
    }
  }
}

void TargetListView::AddEntry(const std::string& root, const std::wstring& wide, DWORD attributes,
                              const FolderId* id) {
  // The wide listing gives every name; a name the ANSI code page cannot write would come out with
  // stand-ins and the path made of it would name nothing (or another file).
  std::string name;
  if (!ToAnsi(wide.c_str(), &name)) {
    ++intake_->unwritableNames;
    if (intake_->listedNames.size() < kListedNames) intake_->listedNames.push_back(name);
    return;
  }
  // Each sub-folder is searched whole before the next entry of this one is read. The listing has
  // told what the entry is; asking the file system again cost more than the row itself. A link
  // is asked about all the same: it counts as what it leads to, and a broken one as nothing.
  std::string path = JoinPath(root, name);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    AddPath(std::move(path));
  else if (PathLength(path) >= MAX_PATH)
    return;
  else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    EnterFolder(path, id);
  else
    AddFile(path);
}
