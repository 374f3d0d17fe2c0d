// OS-independent: recognising a line that acts (stop or start the server, copy a file) instead
// of being relayed.
#pragma once

#include <string>

namespace relayon {

struct ControlAction {
    enum class Kind { None, Stop, Start, Copy };
    Kind kind = Kind::None;
    std::string target;  // Copy: word 2, the file written
    std::string source;  // Copy: word 3, the file read
};

// The action the working text asks for: the whole text "<stop>" or "<start>", or word 1
// "<copy>", letter case ignored; Kind::None for any other text.
ControlAction recognizeControlAction(const std::string& text);

}  // namespace relayon
