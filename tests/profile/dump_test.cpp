// The configuration dump: its four blocks for every combination of the three found-flags, with the
// exact line texts and tabs, and nothing at all below the INFO level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profile/dump.h"
#include "tests/profile/profile_fixture.h"

namespace {

using profiletest::Logged;
using profiletest::Strings;

Strings Info(const Strings& messages) {
    Strings lines;
    for (const std::string& message : messages)
        lines.push_back("KOVA:INFO:" + message);
    return lines;
}

Strings Join(std::initializer_list<Strings> blocks) {
    Strings all;
    for (const Strings& block : blocks)
        all.insert(all.end(), block.begin(), block.end());
    return all;
}

// Trigger records read in the order A, B (so B heads the chain); B has no monitored entry.
void ReadTwoTriggers() {
    kovatest::AddTrigger({{"a.qix", "sub/b.qix:Order"}, 1, 0, 1, "connA"});
    kovatest::AddTrigger({{}, 0, 1, 0, "connB"});
}
const Strings kTriggerBlock = {
    "Event Trigger Profiles:\n",  "\tEvent Trigger Profile:\n",
    "\t\tConnector ID:\tconnB\n", "\t\tEvent Types:\tCreate:0\tUpdate:1\tDelete:0\n",
    "\t\tDatabase Paths:\n",      "\tEvent Trigger Profile:\n",
    "\t\tConnector ID:\tconnA\n", "\t\tEvent Types:\tCreate:1\tUpdate:0\tDelete:1\n",
    "\t\tDatabase Paths:\n",      "\t\t\ta.qix\n",
    "\t\t\tsub/b.qix:Order\n",
};

void ReadConfiguration() {
    kovatest::SetConfigurationProfile({{"c.qix", "dir/d.qix"}, 0, 1, 1, "connC"});
}
const Strings kConfigurationBlock = {
    "Configuration Profile:\n",
    "\tConnector ID:\tconnC\n",
    "\tEvent Types:\tCreate:0\tUpdate:1\tDelete:1\n",
    "\tDatabase Paths:\n",
    "\t\tc.qix\n",
    "\t\tdir/d.qix\n",
};

const Strings kTriggerOverrides = {
    "EventTriggerConfiguration profile overwrites Configuration profile!\n"};
const Strings kDeprecatedTrigger = {"Using deprecated Configuration profile for event trigger!\n"};
const Strings kSystemOverrides = {
    "SystemConfiguration profile overwrites Configuration profile!\n"};
const Strings kDeprecatedSystem = {
    "Using deprecated Configuration profile for system configuration!\n"};
// The system profile's own outputs (log database only), and the answers without one.
const Strings kSystemOutputs = {"Log Outputs:\tConsole:0\tLog database log.qix:1\n"};
const Strings kDefaultOutputs = {"Log Outputs:\tConsole:1\tLog database log.qix:0\n"};

class DumpTest : public profiletest::ProfileTest {
  protected:
    // The lines of a dump of the configuration in force, made as a re-read makes it: in an edit.
    Logged Dump() {
        return profiletest::CaptureLog([&] {
            InEdit([](const kova::ProfileConfiguration& c, auto&) {
                kova::PrintConfigurationProfile(c);
            });
        });
    }
};

TEST_F(DumpTest, BlocksFollowEveryCombinationOfFoundFlags) {
    struct Case {
        bool trigger, configuration, system;
        Strings expected;
    };
    const Case cases[] = {
        {false, false, false, {}},
        {false, false, true, kSystemOutputs},
        {false, true, false,
         Join({kDeprecatedTrigger, kConfigurationBlock, kDeprecatedSystem, kDefaultOutputs})},
        {false, true, true,
         Join({kDeprecatedTrigger, kConfigurationBlock, kSystemOverrides, kSystemOutputs})},
        {true, false, false, kTriggerBlock},
        {true, false, true, Join({kTriggerBlock, kSystemOutputs})},
        {true, true, false,
         Join({kTriggerOverrides, kTriggerBlock, kDeprecatedSystem, kDefaultOutputs})},
        {true, true, true,
         Join({kTriggerOverrides, kTriggerBlock, kSystemOverrides, kSystemOutputs})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "T=" << c.trigger << " C=" << c.configuration << " S=" << c.system);
        TearDown();
        SetUp();
        if (c.trigger)
            ReadTwoTriggers();
        if (c.configuration)
            ReadConfiguration();
        // INFO in force: from the system profile (to the log database), else from the
        // deprecated record (to the console).
        if (c.system) {
            kovatest::SetLogSettings(kova::kLogInfo, 0, 1);
        } else {
            kovatest::SetConfigurationLogLevel(kova::kLogInfo);
        }
        const Logged logged = Dump();
        EXPECT_EQ(c.system ? logged.database : logged.console, Info(c.expected));
        EXPECT_TRUE((c.system ? logged.console : logged.database).empty());
    }
}

TEST_F(DumpTest, NothingReachesAnyOutputBelowInfo) {
    ReadTwoTriggers();
    ReadConfiguration();
    kovatest::SetLogSettings(kova::kLogError, 1, 1);
    Logged logged = Dump();
    EXPECT_TRUE(logged.console.empty());
    EXPECT_TRUE(logged.database.empty());

    kovatest::SetConfigurationLogLevel(kova::kLogError);
    logged = Dump();
    EXPECT_TRUE(logged.console.empty());

    // The same records at DEBUG: the dump is there, so the silence above was the level's doing.
    kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    logged = Dump();
    EXPECT_EQ(logged.console,
              Info(Join({kTriggerOverrides, kTriggerBlock, kDeprecatedSystem, kDefaultOutputs})));
}

}  // namespace
