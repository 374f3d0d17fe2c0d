// OS-independent: the choice a line writer makes for one finished line: answer the sender from
// its reply table, or pass the line on.
#pragma once

#include <string>
#include <string_view>

#include "config/rule_table.h"

namespace relayon {

// The stored answer to the whole line (exact bytes), or null. scratch is working memory for the
// look-up, kept by the caller from line to line so that it costs no allocation.
const std::string* findReply(std::string_view line, const RuleTable& replies, std::string& scratch);

}  // namespace relayon
