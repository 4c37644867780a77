#include "targets/RowValues.h"

#include <gtest/gtest.h>

namespace {

using Current = RowValues::Current;

RowValues Row(Current state, TagValues pending, TagValues current) {
  RowValues row;
  row.pending = pending;
  row.TakeReading(0, state, current);
  return row;
}

// One field (the artist) of a row in every state: is it a change, and what does its cell show.
TEST(RowValuesTest, ChangeAndShownValueOfOneField) {
  struct Case {
    Current state;
    const char* pending;
    const char* current;
    bool change;
    const char* shown;
    bool staying;
  } cases[] = {
      {Current::kRead, "Nils Frahm", "unknown", true, "Nils Frahm", false},
      {Current::kRead, "Nils Frahm", "Nils Frahm", false, "Nils Frahm", false},
      {Current::kRead, "Nils Frahm", "nils frahm", true, "Nils Frahm", false},
      {Current::kRead, "Nils Frahm", "", true, "Nils Frahm", false},
      {Current::kRead, "", "Ambient", false, "Ambient", true},
      {Current::kRead, "", "", false, "", false},
      {Current::kUnknown, "Nils Frahm", "", true, "Nils Frahm", false},
      {Current::kUnknown, "", "", false, "", false},
      {Current::kUnreadable, "Nils Frahm", "", true, "Nils Frahm", false},
      {Current::kNotTaggable, "Nils Frahm", "", false, "Nils Frahm", false},
      {Current::kNotTaggable, "", "", false, "", false},
  };
  for (const Case& c : cases) {
    const RowValues row = Row(c.state, {c.pending}, {c.current});
    bool staying = !c.staying;
    EXPECT_EQ(row.IsChange(0), c.change) << c.pending << " / " << c.current;
    EXPECT_EQ(row.HasChange(), c.change) << c.pending << " / " << c.current;
    EXPECT_EQ(row.Shown(0, &staying), c.shown) << c.pending << " / " << c.current;
    EXPECT_EQ(staying, c.staying) << c.pending << " / " << c.current;
  }
}

TEST(RowValuesTest, ChangesListOnlyTheFieldsThatDiffer) {
  const RowValues row = Row(Current::kRead, {"Nils Frahm", "Spaces", "", "3", "Ambient"},
                            {"unknown", "Spaces", "Says", "03", "Ambient", "2013"});
  const auto changes = row.Changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].field, 0);
  EXPECT_EQ(changes[0].from, "unknown");
  EXPECT_EQ(changes[0].to, "Nils Frahm");
  EXPECT_EQ(changes[1].field, 3);
  EXPECT_EQ(changes[1].from, "03");
  EXPECT_EQ(changes[1].to, "3");
}

// A reading that began before the file was saved tells nothing of the saved file.
TEST(RowValuesTest, AReadingOlderThanTheLastForgettingIsDropped) {
  RowValues row;
  row.pending[0] = "Nils Frahm";
  const unsigned before = row.generation;
  EXPECT_TRUE(row.TakeReading(before, Current::kRead, {"Nils Frahm"}));
  EXPECT_FALSE(row.HasChange());
  row.Forget();
  EXPECT_TRUE(row.HasChange());
  EXPECT_FALSE(row.TakeReading(before, Current::kRead, {"Nils Frahm"}));
  EXPECT_EQ(row.state, Current::kUnknown);
  EXPECT_TRUE(row.TakeReading(row.generation, Current::kNotTaggable, {"x"}));
  EXPECT_EQ(row.current[0], "");
}

TEST(RowValuesTest, BlocksOfSevenTexts) {
  struct Case {
    std::string block;
    bool ok;
    const char* artist;
    const char* comment;
  } cases[] = {
      {std::string("A\0B\0T\0"
                   "1\0G\0Y\0C\0",
                   14),
       true, "A", "C"},
      {std::string("\0\0\0\0\0\0\0", 7), true, "", ""},
      {std::string("A\0B\0T\0"
                   "1\0G\0Y\0C\0extra",
                   19),
       true, "A", "C"},
      {std::string("A\0B\0T\0"
                   "1\0G\0Y\0C",
                   13),
       false, "", ""},
      {std::string("A\0B\0", 4), false, "", ""},
      {std::string(), false, "", ""},
  };
  for (const Case& c : cases) {
    TagValues values;
    EXPECT_EQ(ValuesFromBlock(c.block.data(), c.block.size(), &values), c.ok) << c.block;
    EXPECT_EQ(values[0], c.artist);
    EXPECT_EQ(values[6], c.comment);
  }
}

}  // namespace
