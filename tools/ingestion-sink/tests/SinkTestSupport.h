#pragma once
// Shared by every test that talks to the local ingestion sink: scripts written
// in JSON, a sink started on 127.0.0.1 with a time limit, and gzip bodies.

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tools/ingestion-sink/IngestionSink.h"

namespace sinktest {

// The script, or the empty one and a test failure when the JSON is bad.
inline ingestion_sink::Script parseScript(std::string_view json) {
  std::string why;
  auto script = ingestion_sink::Script::fromJson(json, &why);
  EXPECT_TRUE(script.has_value()) << why;
  return script.value_or(ingestion_sink::Script{});
}

// A started sink; a test failure when it does not start. Unless the options
// say otherwise it stops by itself within a minute.
inline std::unique_ptr<ingestion_sink::Sink> startSink(ingestion_sink::Options options = {}) {
  if (options.maxSeconds == ingestion_sink::Options{}.maxSeconds) options.maxSeconds = 60;
  auto sink = std::make_unique<ingestion_sink::Sink>(std::move(options));
  std::string error;
  EXPECT_TRUE(sink->start(&error)) << error;
  return sink;
}

// A started sink that answers from the script and stops by itself after
// maxSeconds.
inline std::unique_ptr<ingestion_sink::Sink> startSink(std::string_view scriptJson, double maxSeconds = 60) {
  ingestion_sink::Options options;
  options.script = parseScript(scriptJson);
  options.maxSeconds = maxSeconds;
  return startSink(std::move(options));
}

// The text as one gzip stream.
inline std::string gzip(std::string_view in) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, in.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

}  // namespace sinktest
