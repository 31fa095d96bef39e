#include <regex.h>

#include <cctype>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Utf16.h"
#include "platform/security/CommonCrypto.h"

namespace {

constexpr std::string_view kAppSecretKey = "appsecret=";
constexpr std::string_view kTargetTokenKey = "target=";
constexpr std::string_view kPlatformKey = "macos=";

bool contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

std::string removingOccurrences(std::string_view text, std::string_view what) {
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  while (true) {
    size_t found = text.find(what, start);
    if (found == std::string_view::npos) break;
    out.append(text.substr(start, found - start));
    start = found + what.size();
  }
  out.append(text.substr(start));
  return out;
}

// The template with "$n" replaced by capture group n (the longest number
// naming a group) and "\\x" standing for x.
std::string expandTemplate(std::string_view templ, const std::string& subject, const std::vector<regmatch_t>& groups) {
  std::string out;
  for (size_t i = 0; i < templ.size(); ++i) {
    char c = templ[i];
    if (c == '\\' && i + 1 < templ.size()) {
      out.push_back(templ[++i]);
      continue;
    }
    if (c != '$' || i + 1 >= templ.size() || !std::isdigit(static_cast<unsigned char>(templ[i + 1]))) {
      out.push_back(c);
      continue;
    }
    size_t group = static_cast<size_t>(templ[++i] - '0');
    while (i + 1 < templ.size() && std::isdigit(static_cast<unsigned char>(templ[i + 1]))) {
      size_t longer = group * 10 + static_cast<size_t>(templ[i + 1] - '0');
      if (longer >= groups.size()) break;
      group = longer;
      ++i;
    }
    if (group < groups.size() && groups[group].rm_so >= 0) {
      out.append(subject, static_cast<size_t>(groups[group].rm_so),
                 static_cast<size_t>(groups[group].rm_eo - groups[group].rm_so));
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> DVACUtility::splitString(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string DVACUtility::joinStrings(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += separator;
    text += parts[i];
  }
  return text;
}

std::string DVACUtility::sha256(std::string_view text) {
  unsigned char digest[sec::CC_SHA256_DIGEST_LENGTH];
  sec::CC_SHA256(text.data(), static_cast<sec::CC_LONG>(text.size()), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (unsigned char byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0xF]);
  }
  return hex;
}

std::optional<std::string> DVACUtility::appSecretFrom(const std::optional<std::string>& string) {
  if (!string) return std::nullopt;
  const bool namesPlatforms = contains(*string, kPlatformKey);
  for (const std::string& part : splitString(*string, ';')) {
    if (part.empty() || contains(part, kTargetTokenKey)) continue;
    std::string candidate;
    if (namesPlatforms) {
      if (contains(part, kPlatformKey)) candidate = removingOccurrences(part, kPlatformKey);
    } else if (!contains(part, kAppSecretKey) && !contains(part, "=")) {
      candidate = part;
    } else {
      // A part in another key=value form comes back whole.
      candidate = removingOccurrences(part, kAppSecretKey);
    }
    if (!candidate.empty()) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> DVACUtility::transmissionTargetTokenFrom(const std::optional<std::string>& string) {
  if (!string) return std::nullopt;
  for (const std::string& part : splitString(*string, ';')) {
    if (!contains(part, kTargetTokenKey)) continue;
    std::string token = removingOccurrences(part, kTargetTokenKey);
    if (!token.empty()) return token;
  }
  return std::nullopt;
}

std::optional<std::string> DVACUtility::targetKeyFromTargetToken(const std::optional<std::string>& token) {
  if (!token) return std::nullopt;
  std::string key = token->substr(0, token->find('-'));
  if (key.empty()) return std::nullopt;
  return key;
}

std::optional<std::string> DVACUtility::iKeyFromTargetToken(const std::optional<std::string>& token) {
  auto targetKey = targetKeyFromTargetToken(token);
  if (!targetKey) return std::nullopt;
  return "o:" + *targetKey;
}

std::optional<std::string> DVACUtility::prettyPrintJson(const std::optional<ns::Data>& data) {
  if (!data) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
  // The data read as UTF-8 text; nil when it is not UTF-8.
  auto asText = [&]() -> std::optional<std::string> {
    if (!ns::isValidUtf8(text)) return std::nullopt;
    return std::string(text);
  };
  auto object = ns::json::parse(text);
  if (!object) return asText();
  // The writer never escapes "/", so there is no "\/" to undo here.
  auto pretty = ns::json::write(*object, ns::json::WriteOptions{.prettyPrinted = true});
  if (!pretty) return asText();
  return pretty;
}

std::optional<std::string> DVACUtility::obfuscateString(const std::optional<std::string>& string,
                                                        std::string_view pattern, std::string_view templ) {
  if (!string) return std::nullopt;
  regex_t expression;
  const std::string patternText(pattern);
  if (int rc = ::regcomp(&expression, patternText.c_str(), REG_EXTENDED | REG_ICASE); rc != 0) {
    char description[256];
    ::regerror(rc, &expression, description, sizeof description);
    DVACLogError(kDVACLogTag, "Couldn't create regular expression with pattern\"" + patternText + "\": " + description);
    return std::nullopt;
  }
  const size_t groups = expression.re_nsub + 1;
  std::vector<regmatch_t> matches(groups);
  std::string result;
  result.reserve(string->size());
  size_t offset = 0;
  while (offset <= string->size()) {
    // REG_STARTEND: the range is explicit, so NUL bytes and offsets are fine.
    matches[0].rm_so = static_cast<regoff_t>(offset);
    matches[0].rm_eo = static_cast<regoff_t>(string->size());
    int flags = REG_STARTEND | (offset > 0 ? REG_NOTBOL : 0);
    if (::regexec(&expression, string->c_str(), groups, matches.data(), flags) != 0) break;
    const size_t start = static_cast<size_t>(matches[0].rm_so);
    const size_t end = static_cast<size_t>(matches[0].rm_eo);
    result.append(*string, offset, start - offset);
    result += expandTemplate(templ, *string, matches);
    if (end == start) {
      // An empty match: keep one character and move on.
      if (end < string->size()) result.push_back((*string)[end]);
      offset = end + 1;
    } else {
      offset = end;
    }
  }
  if (offset < string->size()) result.append(*string, offset, std::string::npos);
  ::regfree(&expression);
  return result;
}
