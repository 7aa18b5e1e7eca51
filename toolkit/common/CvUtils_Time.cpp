// Date-time values (days since 1899-12-30) and the ASN.1 time texts.
#include "toolkit/common/CvUtils.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/PlatformSystem.h"

namespace corvane {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// 0001-01-01 and the day after 9999-12-31 as date-time values.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<int64_t>(y - era * 400);
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// A decimal field by 1-based position: missing or not all digits gives the
// default. A field cut short by the end of the text is read as far as it goes.
int Field(std::string_view text, size_t position, size_t length, int defaultValue) {
  if (position - 1 >= text.size()) return defaultValue;
  const std::string_view digits = text.substr(position - 1, length);
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return defaultValue;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string TwoDigits(int value) {
  const char text[3] = {static_cast<char>('0' + value / 10 % 10),
                        static_cast<char>('0' + value % 10), '\0'};
  return text;
}

std::string TimeDigits(const TDateTimeParts& p) {
  return TwoDigits(p.Month) + TwoDigits(p.Day) + TwoDigits(p.Hour) + TwoDigits(p.Minute) +
         TwoDigits(p.Second) + "Z";
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivil(year, month, day)) + DATE_DELTA_UNIX;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  const int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000LL + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const TDateTime date = EncodeDate(year, month, day);
  return ComposeDateTime(date, EncodeTime(hour, minute, second, millisecond));
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  if (!std::isfinite(value) || value <= kMinDateTime - 1.0 || value >= kMaxDateTime)
    throw EConvertError("Invalid date-time value");
  // The whole days carry the sign; the fraction counts forward within the day.
  const auto total = static_cast<int64_t>(std::llround(std::fabs(value) * kMsPerDay));
  int64_t days = total / kMsPerDay;
  int64_t ms = total % kMsPerDay;
  if (value < 0) days = -days;
  TDateTimeParts p;
  CivilFromDays(days - static_cast<int64_t>(DATE_DELTA_UNIX), p.Year, p.Month, p.Day);
  // The last millisecond of 9999-12-31 may round up into the year 10000.
  if (p.Year > 9999) throw EConvertError("Invalid date-time value");
  p.Millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.Second = static_cast<int>(ms % 60);
  ms /= 60;
  p.Minute = static_cast<int>(ms % 60);
  p.Hour = static_cast<int>(ms / 60);
  return p;
}

TDateTime NowUTC() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return DATE_DELTA_UNIX + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime UnixTimeToDateTime(int64_t secondsSinceEpoch) {
  // Whole days and the second of the day kept apart so the day count stays exact.
  int64_t days = secondsSinceEpoch / 86400;
  int64_t seconds = secondsSinceEpoch % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  const double date = static_cast<double>(days) + DATE_DELTA_UNIX;
  return ComposeDateTime(date, static_cast<double>(seconds) / 86400.0);
}

// The date and the time of day are joined the way a date-time value carries
// them, so dates before 1899-12-30 come out right as well.
TDateTime UTCTimeToDateTime(std::string_view text) {
  TDateTime date = 0;
  if (text.size() >= 6) {
    int year = Field(text, 1, 2, 0);
    year += year < 50 ? 2000 : 1900;
    date = EncodeDate(year, Field(text, 3, 2, 1), Field(text, 5, 2, 1));
  }
  const TDateTime time =
      EncodeTime(Field(text, 7, 2, 0), Field(text, 9, 2, 0), Field(text, 11, 2, 0), 0);
  return ComposeDateTime(date, time);
}

TDateTime GeneralizedTimeToDateTime(std::string_view text) {
  const TDateTime date =
      EncodeDate(Field(text, 1, 4, 0), Field(text, 5, 2, 1), Field(text, 7, 2, 1));
  int ms = 0;
  if (text.size() > 17 && text[14] == '.') ms = Field(text, 16, 3, 0);
  const TDateTime time =
      EncodeTime(Field(text, 9, 2, 0), Field(text, 11, 2, 0), Field(text, 13, 2, 0), ms);
  return ComposeDateTime(date, time);
}

std::string DateTimeToUTCTime(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return TwoDigits(p.Year % 100) + TimeDigits(p);
}

std::string DateTimeToGeneralizedTime(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char year[8];
  std::snprintf(year, sizeof(year), "%04d", p.Year);
  return year + TimeDigits(p);
}

TDateTime LocalTimeToUTC(TDateTime value) {
  platform::TimeZoneInfo zone;
  if (!platform::GetTimeZoneInformation(zone)) return value;
  return LocalTimeToUTC(value, zone);
}

TDateTime LocalTimeToUTC(TDateTime value, const platform::TimeZoneInfo& zone) {
  int32_t bias = zone.Bias;
  if (zone.ZoneState == platform::TimeZoneInfo::State::Daylight) bias += zone.DaylightBias;
  if (zone.ZoneState == platform::TimeZoneInfo::State::Standard) bias += zone.StandardBias;
  return value + static_cast<double>(bias) / 1440.0;
}

}  // namespace corvane
