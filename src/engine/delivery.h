// OS-independent: the choice a line writer makes for one finished line: answer the sender from
// its reply table, or pass the line on.
#pragma once

#include <string>
#include <string_view>

#include "config/rule_table.h"

namespace relayon {

struct Delivery {
    bool answered = false;  // true: the text goes back to the sender; false: on to the other side
    std::string text;       // the bytes to write in one write, end-of-line sequence included
};

// The stored answer to the whole line (exact bytes), or null. scratch is working memory for the
// look-up, kept by the caller from line to line so that it costs no allocation.
const std::string* findReply(std::string_view line, const RuleTable& replies, std::string& scratch);

// Looks the whole line up in replies (exact bytes). On a match the text is the stored value,
// unchanged, plus senderEndLine; otherwise it is the line plus receiverEndLine.
Delivery planDelivery(const std::string& line, const RuleTable& replies, const std::string& senderEndLine,
                      const std::string& receiverEndLine);

}  // namespace relayon
