// The locale settings that formatting and parsing of numbers, dates and times use.
// One process-wide object with English (United States) defaults; tests and programs
// replace it through SetFormatSettings. SQL number literals never consult it.
#pragma once
#include <array>
#include <string>

namespace ostra {

struct TFormatSettings {
    std::string CurrencyString = "$";
    unsigned char CurrencyFormat = 0;   // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    unsigned char NegCurrFormat = 0;    // 0 "($1)", 1 "-$1", ... as the framework numbers them
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    unsigned char CurrencyDecimals = 2;
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongDateFormat = "dddd, MMMM dd, yyyy";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string ShortTimeFormat = "h:mm AMPM";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",
                                               "May",     "June",     "July",      "August",
                                               "September", "October", "November", "December"};
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    unsigned short TwoDigitYearCenturyWindow = 50;
};

// The settings in force. Not guarded: set them at start or in tests, not while others format.
const TFormatSettings& FormatSettings();

// Replaces the settings in force (for example a test's German locale).
void SetFormatSettings(const TFormatSettings& settings);

// Restores the settings of the enclosing scope when it ends.
class TFormatSettingsScope {
public:
    explicit TFormatSettingsScope(const TFormatSettings& settings) : FSaved(FormatSettings()) {
        SetFormatSettings(settings);
    }
    ~TFormatSettingsScope() { SetFormatSettings(FSaved); }
    TFormatSettingsScope(const TFormatSettingsScope&) = delete;
    TFormatSettingsScope& operator=(const TFormatSettingsScope&) = delete;

private:
    TFormatSettings FSaved;
};

}  // namespace ostra
