#include "model/NumberParsing.h"

#include <gtest/gtest.h>

#include "model/FixupException.h"
#include "model/Unit.h"
#include "support/ScratchFixture.h"

namespace vxl_fixup {
namespace {

// The failures trace into the fixture's work directory.
class NumberParsingTest : public vxl_test::ScratchFixture {};
using UnitTest = NumberParsingTest;

// Runs f and returns the message of the thrown FixupException pointer (which
// is deleted), or "" when nothing was thrown.
template <class F>
std::string thrownMessage(F f) {
    try {
        f();
    } catch (FixupException* e) {
        std::string m = e->what();
        delete e;
        return m;
    }
    return "";
}

TEST_F(NumberParsingTest, LongParserAcceptsAndRejects) {
    EXPECT_EQ(parseStringToLong("42", 10), 42);
    EXPECT_EQ(parseStringToLong("  7", 10), 7);
    EXPECT_EQ(parseStringToLong("12abc", 10), 12);
    EXPECT_EQ(parseStringToLong("0", 10), 0);
    EXPECT_EQ(parseStringToLong("ff", 16), 255);
    EXPECT_EQ(parseStringToLong("-3", 10), -3);
    for (const char* bad : {"abc", "00", "-0", "0x0", "", "99999999999999999999"}) {
        EXPECT_EQ(thrownMessage([&] { parseStringToLong(bad, 10); }),
                  std::string("Failed to parse string '") + bad + "' to long integer.")
            << bad;
    }
}

TEST_F(NumberParsingTest, UnsignedAndDoubleParsers) {
    EXPECT_EQ(parseStringToUnsignedLong("18446744073692774399", 10), 18446744073692774399UL);
    for (const char* bad : {"x", "18446744073709551616"}) {
        EXPECT_EQ(thrownMessage([&] { parseStringToUnsignedLong(bad, 10); }),
                  std::string("Failed to parse string '") + bad + "' to unsigned long integer.");
    }
    EXPECT_EQ(parseStringToDouble("0.0"), 0.0);
    EXPECT_EQ(parseStringToDouble("1.5"), 1.5);
    EXPECT_EQ(thrownMessage([] { parseStringToDouble("0.00"); }),
              "Failed to parse string '0.00' to double.");
}

TEST_F(NumberParsingTest, WideIntegersCompareBeyondTheSignedRange) {
    WideInteger big, small, negative, zero;
    ASSERT_TRUE(parseWideInteger("18446744073692774399", big));
    ASSERT_TRUE(parseWideInteger(" 4294967295 trailing", small));
    ASSERT_TRUE(parseWideInteger("-5", negative));
    ASSERT_TRUE(parseWideInteger("0", zero));
    EXPECT_EQ(compareWideIntegers(big, small), 1);
    EXPECT_EQ(compareWideIntegers(small, big), -1);
    EXPECT_EQ(compareWideIntegers(negative, zero), -1);
    EXPECT_EQ(compareWideIntegers(zero, zero), 0);
    WideInteger minusTen;
    ASSERT_TRUE(parseWideInteger("-10", minusTen));
    EXPECT_EQ(compareWideIntegers(minusTen, negative), -1);
    WideInteger max;
    EXPECT_TRUE(parseWideInteger("18446744073709551615", max));
    // The same texts the long parser refuses are refused here, and nothing
    // above the 64-bit range wraps round to a small value.
    WideInteger out;
    for (const char* bad : {"18446744073709551616", "18446744073709551617", "99999999999999999999",
                            "-18446744073709551621", "", "abc", "00", "-0", "0x0", " 0"}) {
        EXPECT_FALSE(parseWideInteger(bad, out)) << bad;
    }
}

TEST_F(UnitTest, SizesAndConversions) {
    Unit kb("2048KB");
    EXPECT_EQ(kb.getType(), Unit::UNIT_KB);
    EXPECT_EQ(kb.toBytes(), 2097152.0);
    EXPECT_EQ(kb.toKBStr(), "2048");
    EXPECT_EQ(kb.toMBStr(), "2");
    EXPECT_EQ(Unit("1.5GB").toMBStr(), "1536");
    Unit plain("512");
    EXPECT_TRUE(plain.isNumber());
    EXPECT_EQ(plain.toStr(), "512");
    Unit invalid("512B");
    EXPECT_EQ(invalid.getType(), Unit::UNIT_INVALID);
    EXPECT_EQ(invalid.toBytes(), 0.0);
    // An earlier "b" hides the final one: no byte suffix.
    EXPECT_EQ(Unit("1b2b").getType(), Unit::UNIT_BYTES);
}

TEST_F(UnitTest, ComparisonsAndFailure) {
    Unit a("1024KB"), b("1MB");
    EXPECT_FALSE(a.isGreaterThan(b));
    EXPECT_FALSE(a.isLessThan(b));
    EXPECT_FALSE(a.isEqualTo(b));
    EXPECT_TRUE(Unit("2MB").isGreaterThan(a));
    EXPECT_EQ(thrownMessage([] { Unit u("bad"); }),
              "Failed to parse string 'bad' to unsigned long integer.");
}

}  // namespace
}  // namespace vxl_fixup
