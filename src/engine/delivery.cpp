// OS-independent: the reply-table choice of the line writers.
#include "engine/delivery.h"

namespace relayon {

Delivery planDelivery(const std::string& line, const RuleTable& replies, const std::string& senderEndLine,
                      const std::string& receiverEndLine) {
    Delivery delivery;
    if (const std::string* answer = replies.findExact(line)) {
        delivery.answered = true;
        delivery.text = *answer + senderEndLine;
    } else {
        delivery.text = line + receiverEndLine;
    }
    return delivery;
}

}  // namespace relayon
