// OS-independent: recognising control actions.
#include "engine/control_action.h"

#include "text/text_utils.h"
#include "engine/fields.h"

namespace relayon {

ControlAction recognizeControlAction(const std::string& text) {
    ControlAction action;
    if (equalsIgnoreCase(text, "<stop>")) {
        action.kind = ControlAction::Kind::Stop;
    } else if (equalsIgnoreCase(text, "<start>")) {
        action.kind = ControlAction::Kind::Start;
    } else if (equalsIgnoreCase(nthField(text, 1), "<copy>")) {
        action.kind = ControlAction::Kind::Copy;
        action.target = nthField(text, 2);
        action.source = nthField(text, 3);
    }
    return action;
}

}  // namespace relayon
