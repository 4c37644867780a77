#include "mp3infp/RecordingDate.h"

namespace mp3infp {
namespace {

// The value of `text` when it is exactly `digits` ASCII digits. Full-width digits, common in
// Japanese names, stay text: ID3 readers take only ASCII digits for a year.
std::optional<int> Number(std::u16string_view text, size_t digits) {
  if (text.size() != digits) return std::nullopt;
  int value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  return value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Whether the day exists, by the Gregorian calendar, so that "2023-02-29" stays the user's text
// rather than becoming a TDAT that names no day.
bool DayExists(int year, int month, int day) {
  constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const int days = month == 2 && IsLeapYear(year) ? 29 : kDaysInMonth[month - 1];
  return day <= days;
}

void AppendDigits(std::u16string& out, int value, int digits) {
  std::u16string text(size_t(digits), u'0');
  for (int i = digits - 1; i >= 0; --i, value /= 10) text[size_t(i)] = char16_t(u'0' + value % 10);
  out += text;
}

}  // namespace

std::optional<RecordingDate> ParseRecordingDate(std::u16string_view text) {
  RecordingDate date;
  const auto year = Number(text.substr(0, 4), 4);
  if (!year) return std::nullopt;
  date.year = *year;
  if (text.size() == 4) return date;

  const char16_t separator = text.size() > 4 ? text[4] : 0;
  if (separator != u'-' && separator != u'/' && separator != u'.') return std::nullopt;
  const auto month = Number(text.substr(5, 2), 2);
  if (!month || *month < 1 || *month > 12) return std::nullopt;
  date.month = *month;
  if (text.size() == 7) return date;

  if (text.size() != 10 || text[7] != separator) return std::nullopt;
  const auto day = Number(text.substr(8, 2), 2);
  if (!day || !DayExists(date.year, date.month, *day)) return std::nullopt;
  date.day = *day;
  return date;
}

std::u16string IsoText(const RecordingDate& date) {
  std::u16string out;
  AppendDigits(out, date.year, 4);
  if (date.month) {
    out += u'-';
    AppendDigits(out, date.month, 2);
    if (date.day) {
      out += u'-';
      AppendDigits(out, date.day, 2);
    }
  }
  return out;
}

std::optional<RecordingDate> ParseDayMonth(std::u16string_view text, int year) {
  const auto day = Number(text.substr(0, 2), 2);
  const auto month = text.size() == 4 ? Number(text.substr(2), 2) : std::nullopt;
  if (!day || !month || !DayExists(year, *month, *day)) return std::nullopt;
  return RecordingDate{year, *month, *day};
}

std::u16string DayMonthText(const RecordingDate& date) {
  std::u16string out;
  AppendDigits(out, date.day, 2);
  AppendDigits(out, date.month, 2);
  return out;
}

}  // namespace mp3infp
