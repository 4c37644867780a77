// A row's tag values, as the list shows them: the pending ones (what a save will write, the cells'
// text) and the current ones (what the file holds, read in the background). Window-free, so that
// the native build tests the decisions the drawing and saving take from it.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The seven tag fields, in the order of the code table's rows that have a field key (A B T K G Y
// C): field i is list column i + 1.
constexpr int kTagFieldCount = 7;
using TagValues = std::array<std::string, kTagFieldCount>;

struct RowValues {
  // What is known of the file's own values.
  enum class Current {
    kUnknown,      // not read yet, or read before a save that may have changed them
    kRead,         // `current` holds them (an empty one: the file has no such value)
    kNotTaggable,  // a file the library cannot tag (a picture, a cue sheet)
    kUnreadable,   // could not be opened: a save will try, and say why it failed
  };

  TagValues pending;
  TagValues current;
  Current state = Current::kUnknown;
  // Counts the times the current values were forgotten: a reading begun before that is stale.
  unsigned generation = 0;

  // A pending value that a save would change the file with. An empty one leaves the file's value
  // alone; one equal to what the file holds changes nothing. While the file is not read, every
  // pending value counts: only reading can tell.
  bool IsChange(int field) const;
  // Whether a save has anything to write: never for a file that cannot be tagged.
  bool HasChange() const;
  // The value the cell shows, and whether it is only the file's own value staying as it is.
  const std::string& Shown(int field, bool* staying) const;

  // Takes what a reading of generation `readGeneration` found; false (and nothing changes) when
  // the values were forgotten since it began.
  bool TakeReading(unsigned readGeneration, Current found, const TagValues& values);
  // The file may have changed (it was saved, or a save was undone): read it again.
  void Forget();

  struct Change {
    int field;
    std::string from, to;
  };
  std::vector<Change> Changes() const;
};

// The seven values of a block of seven NUL-terminated texts, as the library's reading answers
// them; false when the block holds fewer, and `values` is then left alone.
bool ValuesFromBlock(const char* block, size_t size, TagValues* values);
