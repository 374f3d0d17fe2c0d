// OS-independent: splitting a text into fields.
#pragma once

#include <string>
#include <vector>

#include "text/text_utils.h"

namespace relayon {

// The n-th maximal run of bytes that are not in delimiters, counted from 1 (n below 1 counts as
// 1); empty when the text has fewer fields. Word n of a text is nthField with the default set.
std::string nthField(const std::string& text, int n, const char* delimiters = kBlanks);

// All fields of the text in order, as nthField numbers them, found in one pass.
std::vector<std::string> splitFields(const std::string& text, const char* delimiters = kBlanks);

}  // namespace relayon
