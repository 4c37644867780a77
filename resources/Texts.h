// The program's own fixed texts, and the one way they reach the screen.
//
// They are wide literals, the same characters whatever the source or execution character set,
// and are shown through the wide API only. The program runs in code page 932 on older systems and
// in UTF-8 where Windows lets it: a narrow literal holds the bytes of one of them and would show
// as garbage in the other.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace texts {

inline constexpr wchar_t kTagLibraryMissing[] = L"mp3infp.dll が見つかりません";
inline constexpr wchar_t kSaveFailed[] = L"保存に失敗";
inline constexpr wchar_t kErrorCaption[] = L"エラー";
// Why a file of a batch failed, after its name in the one report at the end of the batch.
inline constexpr wchar_t kCopyFailed[] = L"コピーに失敗";
inline constexpr wchar_t kReadOnlyFile[] = L"読み取り専用";
inline constexpr wchar_t kLockedFile[] = L"ほかのプログラムが使用中";
inline constexpr wchar_t kNotTaggable[] = L"タグを付けられない形式";
// After the reason, when the copy made in the output folder was removed again.
inline constexpr wchar_t kCopyRemoved[] = L"（作成したコピーは削除しました）";
// The report's first line (a wsprintfW format): how many failed, out of how many.
inline constexpr wchar_t kFailedOutOf[] = L"%d 個のファイルのうち %d 個を保存できませんでした。";
// After the listed names, how many more failed (a wsprintfW format).
inline constexpr wchar_t kMoreFailures[] = L"…ほか %d 件";
// The status bar after a save that the user stopped with Esc (a wsprintfW format): how many files
// were saved, out of how many.
inline constexpr wchar_t kSaveStopped[] = L"中断しました。%d / %d 個のファイルを保存しました";
// The status bar after a save or an update (a wsprintfW format): files saved, files passed by
// because nothing in them would change (or they cannot be tagged), files that failed.
inline constexpr wchar_t kSaveResult[] =
    L"%d 個のファイルを保存しました（変更なし %d 個、失敗 %d 個）";

// Before a save, or in its middle, when its journal has no room on its volume or cannot be
// written: the user saves without undo or stops.
inline constexpr wchar_t kSaveWithoutUndo[] =
    L"元に戻すための記録 (ジャーナル) を書き込めません。"
    L"記録を置くドライブに空きが足りないか、書き込みが許されていません。\n\n"
    L"[はい] この保存は元に戻せないものとして、保存を続けます。\n"
    L"[いいえ] 保存をやめます (保存済みのファイルはそのままです)。";
inline constexpr wchar_t kSaveCaption[] = L"保存";
// After the status bar's text at the end of a save that ran without a journal.
inline constexpr wchar_t kSavedWithoutUndo[] = L"（この保存は元に戻せません）";
// After an intake that left out names the ANSI code page cannot hold: their count (a wsprintfW
// format), then up to five of the names, then how many more.
inline constexpr wchar_t kUnwritableNames[] =
    L"%d 個のファイルまたはフォルダーは、名前をシステムのコード ページで表せないため、"
    L"取り込めませんでした。";
inline constexpr wchar_t kMoreNames[] = L"ほか %d 個";
// A window procedure stopped by a failure: this, then the reason.
inline constexpr wchar_t kStoppedByFailure[] = L"処理の途中でエラーが起きたため、中断しました。";
inline constexpr wchar_t kUnknownReason[] = L"原因は不明です。";
inline constexpr wchar_t kRuleBand[] = L"ルール";
// Progress of long work in the status bar, followed by the step (and " / total").
inline constexpr wchar_t kLoading[] = L"読み込み中";
inline constexpr wchar_t kSaving[] = L"保存中";
inline constexpr wchar_t kUpdatingTags[] = L"タグ情報を更新";
// Undo of the last save. The count of files restored goes into the status bar.
inline constexpr wchar_t kNothingToUndo[] = L"元に戻せる保存はありません。";
inline constexpr wchar_t kUndoCaption[] = L"元に戻す";
inline constexpr wchar_t kUndoBusy[] =
    L"別の tagwhirl が保存しているため、元に戻せませんでした。\n"
    L"その保存が終わってから、もう一度お試しください。";
inline constexpr wchar_t kUndone[] = L"%d 個のファイルを元に戻しました";
inline constexpr wchar_t kUndoneCopies[] = L"、出力先のコピー %d 個を削除しました";
inline constexpr wchar_t kUndoFailed[] =
    L"次の %d 個のファイルは、保存の後に変更された、削除された、または使用中のため、"
    L"元に戻さずにそのままにしました。";
// Under a file of that list written anew by the save: where its original from before the save
// now lies (the path follows).
inline constexpr wchar_t kKeptAside[] = L"    保存前のファイル: ";
// At start, when the last run stopped in the middle of a save.
inline constexpr wchar_t kUnfinishedSave[] =
    L"前回の保存は途中で終わっています。\n\n"
    L"[はい] その保存の前の状態に、ファイルを元に戻します。\n"
    L"[いいえ] ファイルをそのままにします (途中まで書かれたファイルだけは元に戻します)。";
// At start, when the last run stopped in the middle of an undo: it is finished.
inline constexpr wchar_t kUnfinishedUndo[] =
    L"前回の「元に戻す」は途中で終わっています。\n\n"
    L"[OK] 残りのファイルも保存の前の状態に戻します。";
// Undo refused: the journal holds what no save writes (damaged or altered).
inline constexpr wchar_t kJournalDamaged[] =
    L"保存の記録が壊れているため、元に戻せません。ファイルには何も変更を加えていません。";
inline constexpr wchar_t kUndoNoMemory[] =
    L"メモリが足りないため、元に戻せませんでした。";
inline constexpr wchar_t kRulePrompt[] = L"ルールを入力してください";
// A change of one row in the status bar: "アーティスト: unknown → Nils Frahm"; the file's value
// when it has none; what parts two changes, and the changes from the rule's words.
inline constexpr wchar_t kChangeArrow[] = L" → ";
inline constexpr wchar_t kNoValue[] = L"（なし）";
inline constexpr wchar_t kChangeSeparator[] = L"、";
inline constexpr wchar_t kChangesEnd[] = L"　";
// The list's columns, in order: the file name, then the tag columns in code-table order.
inline constexpr const wchar_t* kColumnTitles[] = {
    L"ファイル名", L"アーティスト", L"アルバム", L"タイトル",
    L"トラック",   L"ジャンル",     L"作成日",   L"コメント",
};

}  // namespace texts

// A narrow text of the active code page (the program's paths, cells and rules) in UTF-16.
std::wstring WideFromActive(std::string_view text);
// UTF-16 in the active code page; a character it cannot hold becomes '?'.
std::string ActiveFromWide(std::wstring_view text);

// MessageBoxW with a narrow text of the active code page, or a fixed text.
int ShowMessage(HWND owner, std::string_view text, const wchar_t* caption, UINT flags);
int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
