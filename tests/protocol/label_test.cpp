#include "protocol/label.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(FilterLabel, UpperCasesAndKeepsOnlyLettersDigitsUnderscore) {
    EXPECT_EQ(filter_label("ab-c_d!", max_name_length), "ABC_D");
    EXPECT_EQ(filter_label("Zed 42", max_name_length), "ZED42");
    // Bytes around the letter ranges and UTF-8 bytes are dropped, not case-mapped.
    EXPECT_EQ(filter_label("@[`{/:\xC3\xA9-9", max_name_length), "9");
    EXPECT_EQ(filter_label("azAZ09_", max_name_length), "AZAZ09_");
}

TEST(FilterLabel, EmptyWhenNothingIsKept) {
    EXPECT_EQ(filter_label("****", max_party_length), "");
    EXPECT_EQ(filter_label("", max_name_length), "");
}

TEST(FilterLabel, StopsAtTheMaximumCountingKeptCharactersOnly) {
    EXPECT_EQ(filter_label("abcdefghijklmnopqrst", max_name_length), "ABCDEFGHIJKLMNOP");
    // Dropped characters do not use up the length.
    EXPECT_EQ(filter_label("-a-b-c-d-e-f-g-h-i-j-k-l-m-n", max_party_length), "ABCDEFGHIJKL");
    EXPECT_EQ(filter_label("abcdefghijkl", max_party_length), "ABCDEFGHIJKL");
    EXPECT_EQ(filter_label("abc", 0), "");
}

TEST(FilterLabel, MaximaForNamesAndPartyCodes) {
    EXPECT_EQ(max_name_length, 16u);
    EXPECT_EQ(max_party_length, 12u);
}

} // namespace
} // namespace kestrel
