// OS-independent: the reply-table choice of the line writers.
#include "engine/delivery.h"

namespace relayon {

const std::string* findReply(std::string_view line, const RuleTable& replies, std::string& scratch) {
    if (replies.empty()) return nullptr;
    scratch.assign(line);
    return replies.findExact(scratch);
}

Delivery planDelivery(const std::string& line, const RuleTable& replies, const std::string& senderEndLine,
                      const std::string& receiverEndLine) {
    Delivery delivery;
    std::string scratch;
    if (const std::string* answer = findReply(line, replies, scratch)) {
        delivery.answered = true;
        delivery.text = *answer + senderEndLine;
    } else {
        delivery.text = line + receiverEndLine;
    }
    return delivery;
}

}  // namespace relayon
