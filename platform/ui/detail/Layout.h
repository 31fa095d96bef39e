#pragma once
// Layout of the placed tree. Internal to the toolkit.

#include <cstdint>

#include "platform/ui/Node.h"

namespace ui::detail {

Size sizeThatFits(Node& node, ProposedSize proposal);
// Sets the node's frame at `origin` with the size it answers for `proposal`,
// and places its children. A subtree kept from the last render and placed
// there as in the last pass keeps its frames.
void place(Node& node, Point origin, ProposedSize proposal);
// Numbers the placements that follow (each pass one more than the last).
void setLayoutPass(std::uint64_t pass);
ProposedSize aspectProposal(Node& node, ProposedSize proposal);
void clearCache(Node& node);

}  // namespace ui::detail
