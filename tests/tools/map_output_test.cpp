// kvctl map-output: only an output's connector name goes into the compositors' settings, so
// that no word of the user's can add a line or a section to a configuration file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tools/kvctl/commands.h"

namespace {

int MapOutput(const std::string& name, std::string& out, std::string& err) {
    std::istringstream in;
    std::ostringstream o, e;
    kv::kvctl::CommandIo io{in, o, e};
    const int status = kv::kvctl::RunMapOutput({name}, io);
    out = o.str();
    err = e.str();
    return status;
}

TEST(KvctlMapOutput, TakesConnectorNamesAndRefusesAnythingThatCouldBreakAConfigFile) {
    for (const std::string name : {"HDMI-A-1", "HEADLESS-2", "DP-1.8", "eDP_1"}) {
        std::string out, err;
        EXPECT_EQ(MapOutput(name, out, err), 0) << name;
        EXPECT_NE(out.find("map_to_output " + name + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("OutputName=" + name + "\n"), std::string::npos) << out;
    }
    for (const std::string& name :
         {std::string(), std::string("HDMI-1\ninput * events disabled"), std::string("a b"),
          std::string("DP-1]"), std::string("\"x\""), std::string(65, 'A')}) {
        std::string out, err;
        EXPECT_EQ(MapOutput(name, out, err), 2) << name;
        EXPECT_TRUE(out.empty()) << out;
        EXPECT_NE(err.find("no output name"), std::string::npos) << err;
    }
}

}  // namespace
