#include "platform/foundation/Iso8601.h"

#include <cmath>
#include <cstdio>

namespace ns::iso8601 {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

}  // namespace

std::string format(const Date& date) {
    const double t = date.timeIntervalSince1970();
    if (!std::isfinite(t)) return {};
    // Guard the conversion to integer milliseconds; 9999-12-31 is about 2.5e11 s.
    if (t < -7.0e11 || t > 7.0e11) return {};
    // The largest whole millisecond not after t, judged on the doubles
    // themselves so that parse(format(d)) gives d back for every parsed d.
    int64_t totalMs = static_cast<int64_t>(std::floor(t * 1000.0));
    while (static_cast<double>(totalMs + 1) / 1000.0 <= t) ++totalMs;
    while (static_cast<double>(totalMs) / 1000.0 > t) --totalMs;
    int64_t days = totalMs / 86400000;
    int64_t msOfDay = totalMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    if (y < 1 || y > 9999) return {};
    const int64_t h = msOfDay / 3600000, min = msOfDay / 60000 % 60, s = msOfDay / 1000 % 60, ms = msOfDay % 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(y), m, d,
                  static_cast<long long>(h), static_cast<long long>(min), static_cast<long long>(s),
                  static_cast<long long>(ms));
    return buf;
}

std::optional<Date> parse(std::string_view text) {
    // 0123456789012345678901234
    // yyyy-MM-ddTHH:mm:ss.SSSZ
    if (text.size() != 24) return std::nullopt;
    static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    for (size_t i = 0; i < 24; ++i) {
        const char c = text[i];
        if (kShape[i] == 'd') {
            if (c < '0' || c > '9') return std::nullopt;
        } else if (c != kShape[i]) {
            return std::nullopt;
        }
    }
    auto num = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = 0; i < len; ++i) v = v * 10 + (text[at + i] - '0');
        return v;
    };
    const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2),
              ms = num(20, 3);
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > daysInMonth(y, static_cast<unsigned>(mo)))
        return std::nullopt;
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    const int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    const int64_t totalMs = ((days * 24 + h) * 60 + mi) * 60000 + s * 1000 + ms;
    return Date(static_cast<double>(totalMs) / 1000.0);
}

}  // namespace ns::iso8601
