#pragma once
// Layout of the placed tree. Internal to the toolkit.

#include "platform/ui/Node.h"

namespace ui::detail {

Size sizeThatFits(Node& node, ProposedSize proposal);
// Sets the node's frame at `origin` with the size it answers for `proposal`,
// and places its children.
void place(Node& node, Point origin, ProposedSize proposal);
ProposedSize aspectProposal(Node& node, ProposedSize proposal);
void clearCache(Node& node);

}  // namespace ui::detail
