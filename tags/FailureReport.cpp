#include "tags/FailureReport.h"

#include <algorithm>

#include "resources/Texts.h"

const wchar_t* ReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::kCopyFailed:
      return texts::kCopyFailed;
    case FailureReason::kReadOnly:
      return texts::kReadOnlyFile;
    case FailureReason::kLocked:
      return texts::kLockedFile;
    case FailureReason::kNotTaggable:
      return texts::kNotTaggable;
    case FailureReason::kSaveFailed:
      break;
  }
  return texts::kSaveFailed;
}

FailureReason ClassifyFailure(const std::string& path, FailureReason fallback) {
  const std::wstring wide = WideFromActive(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fallback;
  if (attributes & FILE_ATTRIBUTE_READONLY) return FailureReason::kReadOnly;
  // The library's result does not say why it could not open the file; asking for write access
  // with every sharing allowed fails only where another program holds the file.
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return fallback;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
    return FailureReason::kLocked;
  if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) return FailureReason::kReadOnly;
  return fallback;
}

void FailureReport::Add(const std::string& path, FailureReason reason, bool copyRemoved) {
  const bool known = std::any_of(entries_.begin(), entries_.end(),
                                 [&](const Entry& entry) { return entry.path == path; });
  if (!known) entries_.push_back({path, reason, copyRemoved});
}

namespace {

std::wstring Formatted(const wchar_t* format, int a, int b = 0) {
  wchar_t text[512];
  wsprintfW(text, format, a, b);
  return text;
}

std::wstring ReasonLine(const FailureReport::Entry& entry) {
  std::wstring reason = ReasonText(entry.reason);
  if (entry.copyRemoved) reason += texts::kCopyRemoved;
  return reason;
}

}  // namespace

std::wstring FailureReport::Text(int total) const {
  const int failed = static_cast<int>(entries_.size());
  std::wstring text = Formatted(texts::kFailedOutOf, std::max(total, failed), failed);
  text += L"\n";
  for (size_t index = 0; index < entries_.size() && index < kListed; ++index)
    text += L"\n" + WideFromActive(entries_[index].path) + L" : " + ReasonLine(entries_[index]);
  if (entries_.size() > kListed)
    text += L"\n" + Formatted(texts::kMoreFailures, failed - static_cast<int>(kListed));
  return text;
}

void FailureReport::Show(int total) const {
  if (entries_.empty()) return;
  // No owner, but task-modal: while it is up, nothing else in the program takes input, so that
  // no second save, removal or new rule runs before the command that failed has ended.
  const UINT style = MB_OK | MB_TASKMODAL;
  if (entries_.size() == 1 && total <= 1) {
    const Entry& entry = entries_.front();
    std::wstring text = WideFromActive(entry.path);
    if (entry.copyRemoved) text += std::wstring(L"\n") + texts::kCopyRemoved;
    MessageBoxW(nullptr, text.c_str(), ReasonText(entry.reason), style);
    return;
  }
  MessageBoxW(nullptr, Text(total).c_str(), texts::kErrorCaption, style | MB_ICONWARNING);
}
