// The recording date (the value ICRD) as users write it in file and folder names, and the pieces
// that ID3v2.2/2.3 store it in: the year (TYER), the day and month (TDAT, "DDMM").
#pragma once

#include <optional>
#include <string>

namespace mp3infp {

struct RecordingDate {
  int year = 0;
  int month = 0;  // 0 when only the year is known
  int day = 0;    // 0 when not known
};

// "YYYY", "YYYY-MM" or "YYYY-MM-DD" in ASCII digits, with "-", "/" or "." between the parts (the
// same one twice), naming a day that exists. Anything else is no date.
std::optional<RecordingDate> ParseRecordingDate(std::u16string_view text);

// The ISO 8601 form: "YYYY", "YYYY-MM" or "YYYY-MM-DD", as far as the date is known.
std::u16string IsoText(const RecordingDate& date);

// TDAT's "DDMM" read as a day of `year`; nothing unless it names a day that exists.
std::optional<RecordingDate> ParseDayMonth(std::u16string_view text, int year);
std::u16string DayMonthText(const RecordingDate& date);

}  // namespace mp3infp
