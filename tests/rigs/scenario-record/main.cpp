// scenario-record: a scenario of the simulated board rendered into a hid-recorder file.
#include <iostream>
#include <string_view>
#include <vector>

#include "tests/rigs/scenario-record/scenario_render.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return kv::sim::RunScenarioRecord(arguments, std::cout, std::cerr);
}
