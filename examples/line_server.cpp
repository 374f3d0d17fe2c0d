// A small line server for the example: a thermostat that speaks a terse protocol.
//   GET TEMP        -> TEMP <degrees>
//   SET TEMP <n>    -> OK TEMP <n>        (n from 5 to 30; else RANGE <n>)
//   GET MODE        -> MODE <heat|off>
//   SET MODE <m>    -> OK MODE <m>        (heat or off)
//   STATUS          -> UPTIME <lines>; TEMP <degrees>; MODE <mode>
//   QUIT            -> BYE, then the server ends
//   SET ... with no value -> MISSING VALUE
// Anything else gets "ERR <line>". It ends at the end of its input.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

int main() {
    int target = 20;
    std::string mode = "heat";
    long lines = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++lines;
        std::istringstream words(line);
        std::string verb, what, value;
        words >> verb >> what >> value;
        if (verb == "GET" && what == "TEMP" && value.empty()) {
            std::cout << "TEMP " << target << "\n";
        } else if (verb == "SET" && !what.empty() && value.empty()) {
            std::cout << "MISSING VALUE\n";
        } else if (verb == "SET" && what == "TEMP") {
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (*end == '\0' && n >= 5 && n <= 30) {
                target = static_cast<int>(n);
                std::cout << "OK TEMP " << target << "\n";
            } else {
                std::cout << "RANGE " << value << "\n";
            }
        } else if (verb == "GET" && what == "MODE" && value.empty()) {
            std::cout << "MODE " << mode << "\n";
        } else if (verb == "SET" && what == "MODE" && (value == "heat" || value == "off")) {
            mode = value;
            std::cout << "OK MODE " << mode << "\n";
        } else if (verb == "STATUS" && what.empty()) {
            std::cout << "UPTIME " << lines << "; TEMP " << target << "; MODE " << mode << "\n";
        } else if (verb == "QUIT" && what.empty()) {
            std::cout << "BYE" << std::endl;
            return 0;
        } else {
            std::cout << "ERR " << line << "\n";
        }
        std::cout.flush();
    }
    return 0;
}
