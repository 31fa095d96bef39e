#include "platform/ui/detail/Context.h"

#include "platform/ui/Environment.h"
#include "platform/ui/State.h"

namespace ui {
namespace detail {
namespace {
thread_local RenderContext* tlsContext = nullptr;
}

RenderContext* currentContext() { return tlsContext; }

ContextScope::ContextScope(RenderContext* ctx) : previous_(tlsContext) { tlsContext = ctx; }
ContextScope::~ContextScope() { tlsContext = previous_; }

}  // namespace detail

const EnvironmentValues& currentEnvironment() {
  static const EnvironmentValues defaults;
  auto* ctx = detail::currentContext();
  return ctx ? ctx->environment() : defaults;
}

}  // namespace ui
