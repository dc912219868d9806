// The primary finger of every "touch" line in what kvctl monitor has printed so far: the process
// tests read its output file while it runs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kv::test {

struct MonitorTouch {
    int state = -1;  // 0 none, 1 near, 2 touching
    double x = -1.0;
    double y = -1.0;
};

inline std::vector<MonitorTouch> MonitorTouches(const std::string& output) {
    std::vector<MonitorTouch> touches;
    for (size_t at = output.find("touch "); at != std::string::npos;
         at = output.find("touch ", at + 1)) {
        MonitorTouch t;
        int engine = 0;
        if (std::sscanf(output.c_str() + at, "touch engine=%d primary=%d x=%lf y=%lf", &engine,
                        &t.state, &t.x, &t.y) == 4) {
            touches.push_back(t);
        }
    }
    return touches;
}

}  // namespace kv::test
