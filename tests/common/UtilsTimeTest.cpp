#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "platform/PlatformSystem.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {
namespace {

using tavra_test::RunCommand;

std::string Stamp(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[40];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                p.Hour, p.Minute, p.Second, p.Millisecond);
  return text;
}

template <typename F>
std::string ConvertErrorOf(F f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no error";
}

TEST(DateTime, EpochsAndEncoding) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(ConvertErrorOf([] { EncodeDate(2001, 2, 29); }), "Invalid argument to date encode");
  EXPECT_EQ(ConvertErrorOf([] { EncodeDate(0, 1, 1); }), "Invalid argument to date encode");
  EXPECT_EQ(ConvertErrorOf([] { EncodeDate(2000, 13, 1); }), "Invalid argument to date encode");
  EXPECT_EQ(ConvertErrorOf([] { EncodeTime(24, 0, 0, 0); }), "Invalid argument to time encode");
  EXPECT_EQ(ConvertErrorOf([] { EncodeTime(1, 60, 0, 0); }), "Invalid argument to time encode");
  EXPECT_EQ(ConvertErrorOf([] { EncodeTime(1, 1, 1, 1000); }), "Invalid argument to time encode");
}

TEST(DateTime, NegativeValuesCarryTheTimeForward) {
  // -1.25 is 1899-12-29 06:00: whole days back, then a quarter day forward.
  EXPECT_EQ(Stamp(-1.25), "1899-12-29 06:00:00.000");
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_EQ(Stamp(EncodeDateTime(950, 3, 4, 5, 6, 7, 8)), "0950-03-04 05:06:07.008");
  EXPECT_EQ(Stamp(EncodeDateTime(1, 1, 1, 0, 0, 0, 0)), "0001-01-01 00:00:00.000");
  EXPECT_EQ(Stamp(EncodeDateTime(9999, 12, 31, 23, 59, 59, 999)), "9999-12-31 23:59:59.999");
}

TEST(DateTime, DecodingRejectsValuesOutsideTheCalendar) {
  EXPECT_THROW(DecodeDateTime(NAN), EConvertError);
  EXPECT_THROW(DecodeDateTime(INFINITY), EConvertError);
  EXPECT_THROW(DecodeDateTime(1e30), EConvertError);
  EXPECT_THROW(DecodeDateTime(-1e30), EConvertError);
  EXPECT_THROW(DateTimeToUTCTime(3e6), EConvertError);
  EXPECT_THROW(DecodeDateTime(2958466.0 - 1e-10), EConvertError);  // rounds into 10000
}

TEST(DateTime, NowUtcMatchesTheSystemClock) {
  const TDateTime now = NowUTC();
  const TDateTime expected = UnixTimeToDateTime(static_cast<int64_t>(std::time(nullptr)));
  EXPECT_NEAR(now, expected, 5.0 / 86400.0);
}

TEST(AsnTime, UtcTimeCenturyWindow) {
  EXPECT_EQ(Stamp(UTCTimeToDateTime("491231235959Z")), "2049-12-31 23:59:59.000");
  EXPECT_EQ(Stamp(UTCTimeToDateTime("500101000000Z")), "1950-01-01 00:00:00.000");
  EXPECT_EQ(UTCTimeToDateTime("260102030405+0100"), UTCTimeToDateTime("260102030405Z"));
  EXPECT_EQ(Stamp(UTCTimeToDateTime("2601020304Z")), "2026-01-02 03:04:00.000");
  EXPECT_EQ(UTCTimeToDateTime("26010"), 0.0);  // too short for a date
  EXPECT_EQ(ConvertErrorOf([] { UTCTimeToDateTime("261301000000Z"); }),
            "Invalid argument to date encode");
  EXPECT_EQ(ConvertErrorOf([] { UTCTimeToDateTime("260101250000Z"); }),
            "Invalid argument to time encode");
  // A non-numeric field takes its default (month 1).
  EXPECT_EQ(Stamp(UTCTimeToDateTime("26xx15101010Z")), "2026-01-15 10:10:10.000");
}

TEST(AsnTime, GeneralizedTimeMilliseconds) {
  EXPECT_EQ(Stamp(GeneralizedTimeToDateTime("20261208090503.123Z")), "2026-12-08 09:05:03.123");
  EXPECT_EQ(Stamp(GeneralizedTimeToDateTime("20261208090503Z")), "2026-12-08 09:05:03.000");
  EXPECT_EQ(Stamp(GeneralizedTimeToDateTime("20261208090503.1234+0200")),
            "2026-12-08 09:05:03.123");
  EXPECT_EQ(Stamp(GeneralizedTimeToDateTime("18991229060000Z")), "1899-12-29 06:00:00.000");
  EXPECT_EQ(ConvertErrorOf([] { GeneralizedTimeToDateTime(""); }),
            "Invalid argument to date encode");
  EXPECT_EQ(ConvertErrorOf([] { GeneralizedTimeToDateTime("20250229000000Z"); }),
            "Invalid argument to date encode");
}

TEST(AsnTime, WritingDropsMilliseconds) {
  const TDateTime t = EncodeDateTime(2026, 12, 8, 9, 5, 3, 900);
  EXPECT_EQ(DateTimeToUTCTime(t), "261208090503Z");
  EXPECT_EQ(DateTimeToGeneralizedTime(t), "20261208090503Z");
  EXPECT_EQ(DateTimeToGeneralizedTime(EncodeDateTime(950, 1, 2, 3, 4, 5, 0)), "09500102030405Z");
  EXPECT_EQ(DateTimeToUTCTime(EncodeDateTime(1950, 1, 1, 0, 0, 0, 0)), "500101000000Z");
}

// Our calendar against GNU date over random instants from the year 900 to 9000.
TEST(AsnTime, AgreesWithGnuDate) {
  TAVRA_REQUIRE_TOOL("date");
  ASSERT_EQ(RunCommand("date -u -d @0 +%Y%m%d%H%M%S").rfind("19700101000000", 0), 0u)
      << "date is not GNU date";
  std::mt19937_64 rng(99);
  std::string command;
  std::vector<int64_t> instants;
  for (int k = 0; k < 40; ++k) {
    const int64_t seconds = static_cast<int64_t>(rng() % 250000000000ull) - 33000000000ll;
    instants.push_back(seconds);
    command += "date -u -d @" + std::to_string(seconds) + " +%Y%m%d%H%M%SZ; ";
  }
  const std::string output = RunCommand(command);
  size_t pos = 0;
  for (int64_t seconds : instants) {
    const size_t end = output.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    std::string expected = output.substr(pos, end - pos);
    pos = end + 1;
    if (expected.size() == 15) expected.insert(0, 1, '0');  // four-digit year from date
    if (expected.size() == 16) expected = expected.substr(1);
    const TDateTime value = UnixTimeToDateTime(seconds);
    EXPECT_EQ(DateTimeToGeneralizedTime(value), expected) << seconds;
    EXPECT_EQ(DateTimeToGeneralizedTime(GeneralizedTimeToDateTime(expected)), expected);
  }
}

TEST(LocalTimeToUTC, AppliesTheBiasOfTheZoneState) {
  const TDateTime noon = EncodeDateTime(2026, 6, 1, 12, 0, 0, 0);
  platform::TimeZoneInfo prague;
  prague.Bias = -60;
  prague.StandardBias = 0;
  prague.DaylightBias = -60;
  prague.ZoneState = platform::TimeZoneInfo::State::Standard;
  EXPECT_EQ(Stamp(LocalTimeToUTC(noon, prague)), "2026-06-01 11:00:00.000");
  prague.ZoneState = platform::TimeZoneInfo::State::Daylight;
  EXPECT_EQ(Stamp(LocalTimeToUTC(noon, prague)), "2026-06-01 10:00:00.000");
  prague.ZoneState = platform::TimeZoneInfo::State::Unknown;
  EXPECT_EQ(Stamp(LocalTimeToUTC(noon, prague)), "2026-06-01 11:00:00.000");
  platform::TimeZoneInfo newYork;
  newYork.Bias = 300;
  newYork.StandardBias = 0;
  newYork.ZoneState = platform::TimeZoneInfo::State::Standard;
  EXPECT_EQ(Stamp(LocalTimeToUTC(noon, newYork)), "2026-06-01 17:00:00.000");
}

TEST(LocalTimeToUTC, CurrentZoneMatchesTheCLibrary) {
  platform::TimeZoneInfo zone;
  ASSERT_TRUE(platform::GetTimeZoneInformation(zone));
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const TDateTime localValue = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                              local.tm_hour, local.tm_min, local.tm_sec, 0);
  EXPECT_NEAR(LocalTimeToUTC(localValue), UnixTimeToDateTime(now), 1e-6);
}

}  // namespace
}  // namespace corvane
