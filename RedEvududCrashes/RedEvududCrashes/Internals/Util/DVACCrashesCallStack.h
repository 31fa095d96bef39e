#pragma once
// Call-stack symbol lines in the platform's format, one per frame:
//
//   "3   libexample.so                       0x00007f1234567890 symbol + 42"
//
// (frame index, image name, address, symbol and offset), the form that
// DVACExceptionModel::loadStackTrace takes apart.

#include <cstdint>
#include <string>
#include <vector>

namespace dvac {

// The calling thread's stack, innermost first, without this function's own
// frame and the `skip` frames above it.
std::vector<std::string> currentCallStackSymbols(int skip = 0);
// One line per return address, in order.
std::vector<std::string> callStackSymbolsForAddresses(const std::vector<uint64_t>& addresses);

}  // namespace dvac
