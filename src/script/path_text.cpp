#include "script/path_text.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "win/code_page.h"

namespace vorlatch {

namespace {

// Days from 1 January 1970 in the proleptic Gregorian calendar (Howard Hinnant's
// days_from_civil), exact for every year an int can hold.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty()) {
    return path;
  }
  return WithoutTrailingBackslash(path) + '\\';
}

std::string WithoutTrailingBackslash(const std::string& path) {
  return path.substr(0, ActiveCodePage().LengthWithoutTrailing(path, '\\'));
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = ActiveCodePage().FindLast(path, '\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos) {
    return std::string();
  }
  std::string extension = name.substr(dot + 1);
  // A quote right at the start belongs to the extension; a later one closes a quoted path.
  const std::size_t quote = extension.find('"', 1);
  if (quote != std::string::npos) {
    extension.resize(quote);
  }
  return extension;
}

std::string NameWithoutExtension(const std::string& name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos || dot == 0) {
    return std::string();
  }
  return name.substr(0, dot);
}

std::string CollapseBackslashes(const std::string& path) {
  const CodePage& codePage = ActiveCodePage();
  std::string result;
  result.reserve(path.size());
  bool afterBackslash = false;
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t length = codePage.CharLength(path, i);
    const bool backslash = length == 1 && path[i] == '\\';
    if (!(backslash && afterBackslash)) {
      result.append(path, i, length);
    }
    afterBackslash = backslash;
    i += length;
  }
  return result;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return SameTextIgnoringCase(a, b);
}

bool NamesLocalMachineKey(const std::string& key) {
  const std::string root = "HKEY_LOCAL_MACHINE";
  return key.size() > root.size() && key[root.size()] == '\\' &&
         SameTextIgnoringCase(key.substr(0, root.size()), root);
}

bool NamesSystemFolder(const std::string& target) {
  for (const std::string macro : {kMacroSystem, kMacroWindows}) {
    if (SameTextIgnoringCase(target.substr(0, macro.size()), macro)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> RestAfterLeadingMacro(const std::string& value,
                                                 const std::string& macro) {
  if (value.compare(0, macro.size(), macro) != 0) {
    return std::nullopt;
  }
  return value.substr(macro.size());
}

std::string ProgramFilesDirectoryFrom(const std::string& windowsDirectory,
                                      const std::optional<std::string>& lookedUpFolder) {
  if (lookedUpFolder) {
    return WithTrailingBackslash(*lookedUpFolder);
  }
  const char drive = windowsDirectory.empty() ? 'C' : windowsDirectory.front();
  return WithTrailingBackslash(std::string(1, drive) + ":\\Program Files");
}

double OleDateFromLocalTime(const LocalTime& time) {
  const std::int64_t days =
      DaysFromCivil(time.year, time.month, time.day) - DaysFromCivil(1899, 12, 30);
  const double fraction = (time.hour * 3600.0 + time.minute * 60.0 + time.second) / 86400.0;
  const double whole = static_cast<double>(days);
  return days >= 0 ? whole + fraction : whole - fraction;
}

std::string FormatOleDate(double oleDate) {
  // Two decimals, rounded as the C library's "%.2f" rounds the exact binary value (ties to
  // even), done with integers: the library's floating-point formatting would cost the stub
  // more than all of its path helpers together.
  if (!std::isfinite(oleDate)) {
    return std::string();
  }
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(oleDate);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int exponent = -1074;  // the value is mantissa * 2^exponent
  if (biased != 0) {
    mantissa |= std::uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  std::string digits;  // decimal digits of the value in hundredths, most significant first
  if (exponent >= 0) {
    // A whole number: its decimal digits, doubled `exponent` times, then two zeros.
    digits = std::to_string(mantissa);
    for (int i = 0; i < exponent; ++i) {
      int carry = 0;
      for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        const int d = (*it - '0') * 2 + carry;
        *it = static_cast<char>('0' + d % 10);
        carry = d / 10;
      }
      if (carry != 0) {
        digits.insert(digits.begin(), static_cast<char>('0' + carry));
      }
    }
    digits += "00";
  } else {
    const std::uint64_t scaled = mantissa * 100;  // below 2^60
    const int shift = -exponent;
    std::uint64_t hundredths = 0;
    if (shift < 64) {
      hundredths = scaled >> shift;
      const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      if (rest > half || (rest == half && (hundredths & 1) != 0)) {
        ++hundredths;
      }
    }  // else the value is below 2^-4 hundredths and rounds to 0
    digits = std::to_string(hundredths);
    if (digits.size() < 3) {
      digits.insert(0, 3 - digits.size(), '0');
    }
  }
  std::string text = negative ? "-" : "";
  text.append(digits, 0, digits.size() - 2).append(".").append(digits, digits.size() - 2, 2);
  return text;
}

}  // namespace vorlatch
