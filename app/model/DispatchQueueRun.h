#pragma once
// run(queue, body): an asynchronous call on a dispatch queue. The body runs on
// the queue; the caller continues on the main queue with its value, or with
// what it threw rethrown.

#include <memory>
#include <type_traits>
#include <utility>

#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"

template <class F, class R = std::invoke_result_t<F&>>
conc::Task<R> run(std::shared_ptr<dispatch::Queue> queue, F body) {
  auto hop = conc::runOn(std::move(queue), std::move(body));
  co_return co_await hop;
}
