#pragma once
// Call-stack symbol lines in the platform's format, one per frame:
//
//   "3   libexample.so                       0x00007f1234567890 symbol + 42"
//
// (frame index, image name padded to a column, address, then the symbol, or
// the image's base address when the symbol is unknown, and the offset from
// it), and the reading of such lines back into their parts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvac {

// The calling thread's stack, innermost first, without this function's own
// frame and the `skip` frames above it.
std::vector<std::string> currentCallStackSymbols(int skip = 0);
// One line per return address, in order.
std::vector<std::string> callStackSymbolsForAddresses(const std::vector<uint64_t>& addresses);

// The parts of one symbol line. The symbol of "-[Class selector:]" (or "+[...]")
// is split into class and method, a qualified C++ name at its last "::"
// outside the parameter list; any other name is the method alone.
struct CallStackSymbol {
  std::string address;
  std::optional<std::string> image;      // absent when unknown ("???")
  std::optional<std::string> className;
  std::optional<std::string> methodName;  // absent when only an address is known
};
// nullopt for a line that is not in the format above.
std::optional<CallStackSymbol> parseCallStackSymbol(std::string_view line);

}  // namespace dvac
