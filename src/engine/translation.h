// OS-independent: the translation of one received line into the lines to deliver, or into a
// control action.
#pragma once

#include <string>
#include <vector>

#include "config/rule_table.h"
#include "engine/control_action.h"
#include "engine/directives.h"
#include "engine/file_source.h"

namespace relayon {

struct Translation {
    // The finished lines, in order, for the line writer; none when the line vanished.
    std::vector<std::string> lines;
    // Set (and lines empty) when the line is a control action to carry out once.
    ControlAction action;
};

// Translates one received line: the text up to its first zero byte is rewritten with the rules
// in key order, then the readfile, placeholder and delete directives run, then (when
// actionsEnabled, the client direction) a control action is recognised, and otherwise the text
// is cut into lines at line feeds. stringRulesPresent false lets the rule pass skip the test
// for template values. Directive notes for the log go to notes.
Translation translateLine(const std::string& received, const RuleTable& rules, bool stringRulesPresent,
                          bool actionsEnabled, FileSource& files, NoteSink& notes);

}  // namespace relayon
