#pragma once
// Where the Red Evudud ingestion sends by default.
//
// The build fixes a default (the CMake cache variable MORVALENT_INGESTION_URL);
// the environment variable of the same name, read once at first use,
// overrides it, so a test run or a demo can point the client at a local sink.

#include <string>

inline constexpr const char* kDVACIngestionURLEnvironmentVariable = "MORVALENT_INGESTION_URL";

class DVACIngestionDefaults {
 public:
  DVACIngestionDefaults() = delete;

  // The environment's http(s) URL when it gives a valid one, else the
  // build's default.
  static std::string defaultLogUrl();
  // The value the build was configured with.
  static std::string buildDefaultLogUrl();
  // Forgets the value read, so the next call reads the environment again.
  static void resetForTesting();
};
