#include "model/NumberParsing.h"

#include <gtest/gtest.h>

#include "model/FixupException.h"
#include "support/ScratchFixture.h"

namespace vxl_fixup {
namespace {

// The failures trace into the fixture's work directory.
class NumberParsingTest : public vxl_test::ScratchFixture {};

// The long parser as text ("refused: MESSAGE" when it throws).
std::string asLong(const std::string& text, int base = 10) {
    try {
        return std::to_string(parseStringToLong(text, base));
    } catch (FixupException* e) {
        const std::string message = e->what();
        delete e;
        return "refused: " + message;
    }
}

std::string asWide(const std::string& text) {
    WideInteger value;
    if (!parseWideInteger(text, value)) return "refused";
    return (value.negative ? "-" : "") + std::to_string(value.magnitude);
}

// Both parsers take the same texts; only the wide one reaches past the
// signed range, and neither wraps round above 64 bits.
TEST_F(NumberParsingTest, ParsersTakeTheSameTextsAndNeverWrap) {
    const struct {
        const char *text, *asLong, *asWide;  // null: refused
    } cases[] = {
        // clang-format off
        {"42", "42", "42"}, {"  7", "7", "7"}, {"12abc", "12", "12"}, {"0", "0", "0"},
        {"-3", "-3", "-3"}, {"18446744073709551615", nullptr, "18446744073709551615"},
        {"-18446744073709551615", nullptr, "-18446744073709551615"},
        {"18446744073709551616", nullptr, nullptr}, {"18446744073709551617", nullptr, nullptr},
        {"99999999999999999999", nullptr, nullptr}, {"-18446744073709551621", nullptr, nullptr},
        {"abc", nullptr, nullptr}, {"", nullptr, nullptr}, {"00", nullptr, nullptr},
        {"-0", nullptr, nullptr}, {" 0", nullptr, nullptr}, {"0x0", nullptr, nullptr},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(asLong(c.text), c.asLong ? c.asLong
                                           : "refused: Failed to parse string '" +
                                                 std::string(c.text) + "' to long integer.")
            << c.text;
        EXPECT_EQ(asWide(c.text), c.asWide ? c.asWide : "refused") << c.text;
    }
    EXPECT_EQ(asLong("ff", 16), "255");
}

TEST_F(NumberParsingTest, WideIntegersCompareBeyondTheSignedRange) {
    const char* const ordered[] = {"-10", "-5", "0", "4294967295", "18446744073692774399"};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            WideInteger a, b;
            ASSERT_TRUE(parseWideInteger(ordered[i], a) && parseWideInteger(ordered[j], b));
            EXPECT_EQ(compareWideIntegers(a, b), i < j ? -1 : i > j)
                << ordered[i] << " " << ordered[j];
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
