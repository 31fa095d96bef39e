#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesCallStack.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/foundation/Paths.h"

namespace dvac {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool isHexAddress(std::string_view text) {
  return text.size() > 2 && text.substr(0, 2) == "0x" &&
         text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The position of the last "::" that is neither inside brackets of any kind
// nor inside a template's arguments; npos when there is none.
size_t lastQualifierSeparator(std::string_view name) {
  size_t found = std::string_view::npos;
  int depth = 0;
  int angles = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
    if (c == '<') ++angles;
    if (c == '>' && angles > 0) --angles;
    if (c == ':' && depth == 0 && angles == 0 && i + 1 < name.size() && name[i + 1] == ':') {
      found = i;
      ++i;
    }
  }
  return found;
}

void splitSymbol(std::string_view symbol, CallStackSymbol& parts) {
  if (symbol.empty() || isHexAddress(symbol)) return;
  if (symbol.size() > 3 && (symbol[0] == '-' || symbol[0] == '+') && symbol[1] == '[' && symbol.back() == ']') {
    const std::string_view inner = symbol.substr(2, symbol.size() - 3);
    const size_t space = inner.find(' ');
    if (space != std::string_view::npos && space > 0) {
      parts.className = std::string(inner.substr(0, space));
      parts.methodName = std::string(trimmed(inner.substr(space + 1)));
      return;
    }
  }
  const size_t separator = lastQualifierSeparator(symbol);
  if (separator != std::string_view::npos && separator > 0 && separator + 2 < symbol.size()) {
    parts.className = std::string(symbol.substr(0, separator));
    parts.methodName = std::string(symbol.substr(separator + 2));
    return;
  }
  parts.methodName = std::string(symbol);
}

std::string symbolLine(size_t index, uint64_t address) {
  std::string image = "???";
  std::string symbol;
  uint64_t offset = 0;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info) != 0) {
    if (info.dli_fname && *info.dli_fname) image = ns::paths::lastPathComponent(info.dli_fname);
    if (info.dli_sname) {
      int status = -1;
      char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
      symbol = status == 0 && demangled ? demangled : info.dli_sname;
      std::free(demangled);
      offset = address - reinterpret_cast<uint64_t>(info.dli_saddr);
    } else if (info.dli_fbase) {
      offset = address - reinterpret_cast<uint64_t>(info.dli_fbase);
    }
  }
  if (symbol.empty()) {
    char base[32];
    std::snprintf(base, sizeof base, "0x%" PRIx64, address - offset);
    symbol = base;
  }
  char prefix[96];
  std::snprintf(prefix, sizeof prefix, "%-4zu%-35s 0x%016" PRIx64 " ", index, image.c_str(), address);
  return prefix + symbol + " + " + std::to_string(offset);
}

}  // namespace

std::vector<std::string> currentCallStackSymbols(int skip) {
  void* frames[128];
  const int count = ::backtrace(frames, 128);
  std::vector<std::string> lines;
  for (int i = 1 + skip; i < count; ++i) {
    lines.push_back(symbolLine(lines.size(), reinterpret_cast<uint64_t>(frames[i])));
  }
  return lines;
}

std::vector<std::string> callStackSymbolsForAddresses(const std::vector<uint64_t>& addresses) {
  std::vector<std::string> lines;
  lines.reserve(addresses.size());
  for (uint64_t address : addresses) lines.push_back(symbolLine(lines.size(), address));
  return lines;
}

std::optional<CallStackSymbol> parseCallStackSymbol(std::string_view line) {
  // The whitespace-separated words, with where each starts.
  std::vector<std::pair<size_t, std::string_view>> words;
  for (size_t i = 0; i < line.size();) {
    if (isSpace(line[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < line.size() && !isSpace(line[end])) ++end;
    words.emplace_back(i, line.substr(i, end - i));
    i = end;
  }
  if (words.size() < 3 || !isDigits(words[0].second)) return std::nullopt;
  // The image name may itself hold spaces: the address is the first word
  // after it that is one.
  size_t addressWord = 2;
  while (addressWord < words.size() && !isHexAddress(words[addressWord].second)) ++addressWord;
  if (addressWord == words.size()) return std::nullopt;

  CallStackSymbol parts;
  parts.address = std::string(words[addressWord].second);
  const size_t imageStart = words[1].first;
  const auto& lastImageWord = words[addressWord - 1];
  const std::string_view image =
      line.substr(imageStart, lastImageWord.first + lastImageWord.second.size() - imageStart);
  if (image != "???") parts.image = std::string(image);

  std::string_view symbol = trimmed(line.substr(words[addressWord].first + words[addressWord].second.size()));
  const size_t plus = symbol.rfind(" + ");
  if (plus != std::string_view::npos && isDigits(trimmed(symbol.substr(plus + 3)))) {
    symbol = trimmed(symbol.substr(0, plus));
  }
  splitSymbol(symbol, parts);
  return parts;
}

}  // namespace dvac
