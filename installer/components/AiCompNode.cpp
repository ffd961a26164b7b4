#include "installer/components/AiCompNode.h"

AiCompNode::~AiCompNode() = default;
