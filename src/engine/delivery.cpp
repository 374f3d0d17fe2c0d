// OS-independent: the reply-table choice of the line writers.
#include "engine/delivery.h"

namespace relayon {

const std::string* findReply(std::string_view line, const RuleTable& replies, std::string& scratch) {
    if (replies.empty()) return nullptr;
    scratch.assign(line);
    return replies.findExact(scratch);
}

}  // namespace relayon
