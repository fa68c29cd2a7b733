// The monitoring filter: rejection of non-documents, path entries, form aliases, entry syntax
// (empty form part, drive-letter colon), duplicate connector ids, the trigger chain against the
// deprecated configuration profile, event types, a publication racing the filter, and the
// decision (the monitored-entry index's, at every log level) against one worked out from the
// profiles themselves over random profile sets.
#include "capture/filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

using kova::EventContext;
using kovatest::ProfileSpec;

class MonitoringFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
        ASSERT_EQ(qixsim::CreateForm("orders.qix", "Order; Purchase Order"), 0);
        ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
        kovatest::SetLogSettings(3, 0, 1);
    }
    void TearDown() override {
        for (EventContext* context : contexts_)
            kova::KOVAListCleanUp(context->connectorIds);
        qixsim::CloseHandle(db_);
        kovatest::ResetAll();
    }

    EventContext* Context(const char* path = "orders.qix", const char* form = "Order",
                          int32_t eventType = kova::kEventTypeUpdate,
                          uint16_t noteClass = NOTE_CLASS_DOCUMENT) {
        auto* context = &storage_[contexts_.size()];
        std::memset(context, 0, sizeof *context);
        context->dbHandle = db_;
        std::snprintf(context->dbPath, sizeof context->dbPath, "%s", path);
        std::snprintf(context->formName, sizeof context->formName, "%s", form);
        context->eventType = eventType;
        context->noteClass = noteClass;
        contexts_.push_back(context);
        return context;
    }

    // The filter's answer on the configuration in force.
    static int Monitored(EventContext* context) {
        return kova::CheckIsEventMonitored(context, kovatest::InForce());
    }

    // The filter's answer with exactly one trigger profile holding `entry`.
    int MatchesSingleEntry(const std::string& entry, const char* form = "Order") {
        kovatest::Edit(kova::CleanUpEventTriggerProfile);
        kovatest::AddTrigger({{entry}, 1, 1, 1, "c"});
        return Monitored(Context("orders.qix", form));
    }

    DBHANDLE db_ = 0;
    EventContext storage_[64];
    std::vector<EventContext*> contexts_;
};

TEST_F(MonitoringFilterTest, NonDocumentsAndFormlessNotesAreRejectedSilently) {
    kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "c"});
    qixsim::ResetCallCounts();
    EventContext* design = Context("orders.qix", "Order", kova::kEventTypeUpdate, NOTE_CLASS_FORM);
    EventContext* formless = Context("orders.qix", "");
    EXPECT_EQ(Monitored(design), 0);
    EXPECT_EQ(Monitored(formless), 0);
    EXPECT_EQ(design->connectorIds, nullptr);
    EXPECT_EQ(formless->connectorIds, nullptr);
    EXPECT_TRUE(kovatest::LogEntries().empty());
    EXPECT_EQ(qixsim::TotalCallCount(), 0u);  // not even the form-title lookup
}

TEST_F(MonitoringFilterTest, PathEntryMatchesTheNormalisedServerPathExactly) {
    kovatest::AddTrigger({{"sub/orders.qix"}, 1, 1, 1, "conn-1"});
    EventContext* context = Context("sub\\orders.qix");
    EXPECT_EQ(Monitored(context), 1);
    EXPECT_EQ(kovatest::ListTexts(context->connectorIds), std::vector<std::string>{"conn-1"});
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{
                  "KOVA:DEBUG:CheckIsEventMonitored\n",
                  "KOVA:DEBUG:Comparing Database Paths: sub\\orders.qix, sub/orders.qix\n",
                  "KOVA:DEBUG:Event is monitored!"}));

    EXPECT_EQ(Monitored(Context("SUB\\orders.qix")), 0);
    EXPECT_EQ(Monitored(Context("sub/orders.qix ")), 0);
    EXPECT_EQ(Monitored(Context("orders.qix")), 0);
}

TEST_F(MonitoringFilterTest, FormPartMatchesAnyNameOfTheFormTitle) {
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Order"), 1);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Purchase Order"), 1);  // blank after ";" skipped
    EXPECT_EQ(MatchesSingleEntry("orders.qix:  Order"), 1);         // leading blanks skipped
    EXPECT_EQ(MatchesSingleEntry("orders.qix:order"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Order "), 0);  // a trailing blank counts
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Purchase"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:"), 0);             // empty form part
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Order:Extra"), 0);  // later colons belong to the form
    EXPECT_EQ(MatchesSingleEntry("other.qix:Order"), 0);
    // A form without a design note has no title: only path entries can match.
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Invoice", "Invoice"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix", "Invoice"), 1);
    // A title whose names include a blank one and an empty one: the empty form part still
    // matches none of them, and the real name still matches.
    ASSERT_EQ(qixsim::CreateForm("orders.qix", "Item; ;;Article"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:", "Item"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Article", "Item"), 1);
    ASSERT_EQ(qixsim::CreateForm("orders.qix", "Part; "), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:", "Part"), 0);
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Part", "Part"), 1);
}

TEST_F(MonitoringFilterTest, FormComparisonLogsEveryStep) {
    EXPECT_EQ(MatchesSingleEntry("orders.qix:Purchase Order"), 1);
    EXPECT_EQ(
        kovatest::LogEntries(),
        (std::vector<std::string>{
            "KOVA:DEBUG:CheckIsEventMonitored\n",
            "KOVA:DEBUG:Comparing Database Paths and Form Names: db_path=orders.qix, form=Order, "
            "alias=Order; Purchase Order, configuration=orders.qix:Purchase Order\n",
            "KOVA:DEBUG:Comparing alias: tempAlias=Order, alias=Purchase Order\n",
            "KOVA:DEBUG:Comparing alias: tempAlias=Purchase Order, alias=Purchase Order\n",
            "KOVA:DEBUG:Event is monitored!"}));
}

TEST(AliasMatching, TokensSplitOnSemicolonRunsWithLeadingBlanksSkipped) {
    kovatest::ResetAll();
    EXPECT_EQ(kova::IsContainedInAlias("Order; Purchase Order", "Purchase Order"), 1);
    EXPECT_EQ(kova::IsContainedInAlias(";;A;;  B;", "B"), 1);
    EXPECT_EQ(kova::IsContainedInAlias(";;A;;  B;", "  A"), 1);
    EXPECT_EQ(kova::IsContainedInAlias("A ;B", "A"), 0);  // the token keeps its trailing blank
    EXPECT_EQ(kova::IsContainedInAlias("A;B", "b"), 0);
    EXPECT_EQ(kova::IsContainedInAlias("", "A"), 0);
    EXPECT_EQ(kova::IsContainedInAlias(";;;", "A"), 0);
    EXPECT_EQ(kova::IsContainedInAlias("AB", "A"), 0);
    // A title longer than the copy buffer is cut, never overrun.
    const std::string longTitle = std::string(300, 'x') + ";Tail";
    EXPECT_EQ(kova::IsContainedInAlias(longTitle.c_str(), "Tail"), 0);
    EXPECT_EQ(kova::IsContainedInAlias(longTitle.c_str(), std::string(255, 'x').c_str()), 1);
}

TEST_F(MonitoringFilterTest, DriveLetterColonCutsTriggerEntriesButNotConfigurationEntries) {
    kovatest::AddTrigger({{"C:/data/orders.qix"}, 1, 1, 1, "trigger"});
    EXPECT_EQ(Monitored(Context("C:\\data\\orders.qix")), 0);

    kovatest::Edit(kova::ResetProfileFlags);
    kovatest::SetConfigurationProfile({{"C:/data/orders.qix"}, 1, 1, 1, "configuration"});
    EventContext* context = Context("C:\\data\\orders.qix");
    EXPECT_EQ(Monitored(context), 1);
    EXPECT_EQ(kovatest::ListTexts(context->connectorIds),
              std::vector<std::string>{"configuration"});
}

TEST_F(MonitoringFilterTest, ConnectorIdsAreCollectedOncePerProfileAndOncePerId) {
    // One profile listing the database twice: one id, and its walk stops at the first match.
    kovatest::AddTrigger({{"orders.qix", "orders.qix"}, 1, 1, 1, "twice"});
    EventContext* first = Context();
    EXPECT_EQ(Monitored(first), 1);
    EXPECT_EQ(kovatest::ListTexts(first->connectorIds), std::vector<std::string>{"twice"});
    size_t comparisons = 0;
    for (const std::string& line : kovatest::LogEntries()) {
        comparisons += line.rfind("KOVA:DEBUG:Comparing Database Paths:", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(comparisons, 1u);

    // A second profile with the same id: still one id. A third with another id is added too;
    // the chain is walked newest first and each id goes to the head of the list.
    kovatest::AddTrigger({{"orders.qix"}, 0, 1, 0, "twice"});
    kovatest::AddTrigger({{"elsewhere.qix", "orders.qix:Order"}, 0, 1, 0, "other"});
    kovatest::AddTrigger({{"orders.qix"}, 1, 0, 1, "wants-no-updates"});
    EventContext* all = Context();
    EXPECT_EQ(Monitored(all), 1);
    EXPECT_EQ(kovatest::ListTexts(all->connectorIds), (std::vector<std::string>{"twice", "other"}));
}

TEST_F(MonitoringFilterTest, TriggerChainShadowsTheDeprecatedConfigurationProfile) {
    kovatest::SetConfigurationProfile({{"orders.qix"}, 1, 1, 1, "configuration"});
    kovatest::AddTrigger({{"other.qix"}, 1, 1, 1, "trigger"});
    EventContext* shadowed = Context();
    EXPECT_EQ(Monitored(shadowed), 0);
    EXPECT_EQ(shadowed->connectorIds, nullptr);

    kovatest::Edit([](kova::ProfileConfiguration& configuration) {
        kova::CleanUpEventTriggerProfile(configuration);
        kova::profileFlags(configuration).triggerProfileEnabled = 0;
    });
    EventContext* fallback = Context();
    EXPECT_EQ(Monitored(fallback), 1);
    EXPECT_EQ(kovatest::ListTexts(fallback->connectorIds),
              std::vector<std::string>{"configuration"});

    // The configuration profile's own event-type flags apply.
    kovatest::SetConfigurationProfile({{"orders.qix"}, 1, 0, 1, "configuration"});
    EXPECT_EQ(Monitored(Context()), 0);
    EXPECT_EQ(Monitored(Context("orders.qix", "Order", kova::kEventTypeCreate)), 1);

    // Without entries: 0 and no comparison logged.
    kovatest::SetConfigurationProfile({{}, 1, 1, 1, "configuration"});
    const size_t before = kovatest::LogEntries().size();
    EXPECT_EQ(Monitored(Context()), 0);
    const std::vector<std::string> entries = kovatest::LogEntries();
    EXPECT_EQ(std::vector<std::string>(entries.begin() + static_cast<long>(before), entries.end()),
              std::vector<std::string>{"KOVA:DEBUG:CheckIsEventMonitored\n"});
}

TEST_F(MonitoringFilterTest, EventTypeMustBeWantedAndAnUnknownTypeNeverIs) {
    kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "all"});
    EXPECT_EQ(Monitored(Context("orders.qix", "Order", kova::kEventTypeUnknown)), 0);

    kova::TriggerProfile* profile = kovatest::NewTriggerProfile({{}, 1, 0, 0, ""});
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeCreate, profile), 1);
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeUpdate, profile), 0);
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeDelete, profile), 0);
    profile->createEnabled = 0;
    profile->deleteEnabled = 1;
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeCreate, profile), 0);
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeDelete, profile), 1);
    EXPECT_EQ(kova::IsEventTypeEnabled(kova::kEventTypeUnknown, profile), 0);
    EXPECT_EQ(kova::IsEventTypeEnabled(3, profile), 0);
    std::free(profile);
}

// What the filter must answer, worked out from the profiles as they were made: the trigger chain
// newest first, each profile at its first entry that wants the change (path part up to the first
// colon, exactly the event's path with slashes; a form part that names one of the title's
// ";"-separated names, leading blanks aside; the event type); without a trigger, the deprecated
// profile's whole entries. The ids as the list holds them: each new one at its head.
std::pair<int, std::vector<std::string>> ExpectedDecision(const std::vector<ProfileSpec>& chain,
                                                          const ProfileSpec& deprecated,
                                                          std::string path, const char* title,
                                                          int32_t type) {
    std::replace(path.begin(), path.end(), '\\', '/');
    const auto wantsType = [type](const ProfileSpec& profile) {
        return (type == kova::kEventTypeCreate && profile.createEnabled != 0) ||
               (type == kova::kEventTypeUpdate && profile.updateEnabled != 0) ||
               (type == kova::kEventTypeDelete && profile.deleteEnabled != 0);
    };
    const auto skipBlanks = [](std::string text) {
        return text.erase(0, text.find_first_not_of(' '));
    };
    const auto named = [&](const std::string& formPart) {
        if (formPart.empty())
            return false;
        const std::string names = title;
        for (size_t at = 0; at < names.size();) {
            const size_t end = std::min(names.find(';', at), names.size());
            if (end > at && skipBlanks(names.substr(at, end - at)) == skipBlanks(formPart))
                return true;
            at = end + 1;
        }
        return false;
    };
    std::vector<std::string> wanted;  // in walk order
    for (auto profile = chain.rbegin(); profile != chain.rend(); ++profile) {
        for (const std::string& entry : profile->monitored) {
            const size_t colon = entry.find(':');
            if (entry.substr(0, colon) != path)
                continue;
            if (colon != std::string::npos && !named(entry.substr(colon + 1)))
                continue;
            if (wantsType(*profile))
                wanted.push_back(profile->connectorId);
            break;
        }
    }
    if (chain.empty() && wantsType(deprecated) &&
        std::count(deprecated.monitored.begin(), deprecated.monitored.end(), path) != 0) {
        wanted.push_back(deprecated.connectorId);
    }
    std::vector<std::string> ids;
    for (const std::string& id : wanted) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.insert(ids.begin(), id);
    }
    return {wanted.empty() ? 0 : 1, ids};
}

// The monitored-entry index decides at every log level (at DEBUG the walk only writes its
// trace): over random profile sets and changes, the result and the connector ids in their order
// are those worked out from the profiles, below DEBUG and at DEBUG alike. The first set holds an
// entry whose path part is a prefix of the event's path ("sales/orders:Order" against
// "sales/orders.qix"), which only the end-of-path test rejects.
TEST_F(MonitoringFilterTest, DecisionIsTheOneTheProfilesCallForAtEveryLevel) {
    const char* const paths[] = {"orders.qix", "sales/orders.qix", "sales/orders",
                                 "Sales/orders.qix", "sales/orders.qix "};
    const char* const forms[] = {"",  ":Order",       ":Purchase Order", ":  Order", ":Order ",
                                 ":", ":Order:Extra", ":Invoice",        ":order"};
    const char* const connectors[] = {"a", "b", "c", "d"};
    const char* const eventPaths[] = {"orders.qix", "sales\\orders.qix", "sales/orders.qix",
                                      "sales/orders", "Sales/orders.qix"};
    std::mt19937 random(20261208);
    auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    auto answer = [this](int32_t level, const char* path, const char* form, int32_t type) {
        kovatest::SetLogSettings(level, 0, 0);
        EventContext* context = Context(path, form, type);
        const int result = Monitored(context);
        std::vector<std::string> ids = kovatest::ListTexts(context->connectorIds);
        kova::KOVAListCleanUp(context->connectorIds);
        context->connectorIds = nullptr;
        contexts_.pop_back();
        return std::make_pair(result, ids);
    };
    size_t matched = 0, compared = 0;
    for (int round = 0; round < 150; ++round) {
        kovatest::SetLogSettings(0, 0, 0);
        kovatest::Edit(kova::ResetProfileFlags);
        std::vector<ProfileSpec> chain;  // in the order added
        ProfileSpec deprecated;
        if (round == 0) {
            chain.push_back({{"sales/orders:Order", "orders.qix:Order"}, 1, 1, 1, "prefix"});
        } else if (round % 10 == 0) {  // no trigger: the deprecated profile's whole entries
            for (size_t i = pick(4); i > 0; --i)
                deprecated.monitored.push_back(std::string(paths[pick(5)]) + forms[pick(2)]);
            deprecated.createEnabled = int32_t(pick(2));
            deprecated.updateEnabled = int32_t(pick(2));
            deprecated.deleteEnabled = int32_t(pick(2));
            deprecated.connectorId = "legacy";
            kovatest::SetConfigurationProfile(deprecated);
        } else {
            for (size_t p = 1 + pick(6); p > 0; --p) {
                std::vector<std::string> entries;
                for (size_t i = pick(4); i > 0; --i)
                    entries.push_back(std::string(paths[pick(5)]) + forms[pick(9)]);
                chain.push_back({entries, int32_t(pick(2)), int32_t(pick(2)), int32_t(pick(2)),
                                 connectors[pick(4)]});
            }
        }
        for (const ProfileSpec& profile : chain)
            kovatest::AddTrigger(profile);
        for (int change = 0; change < 12; ++change) {
            const char* path = round == 0 && change == 0 ? "sales/orders.qix" : eventPaths[pick(5)];
            const char* form = pick(3) == 0 ? "Invoice" : "Order";
            const int32_t type = static_cast<int32_t>(pick(4)) - 1;
            // The title the filter reads: "Invoice" has no design note.
            const char* title = std::strcmp(form, "Order") == 0 ? "Order; Purchase Order" : "";
            const auto expected = ExpectedDecision(chain, deprecated, path, title, type);
            const auto traced = answer(kova::kLogDebug, path, form, type);
            const auto quiet = answer(kova::kLogInfo, path, form, type);
            EXPECT_EQ(traced, expected)
                << "round " << round << ", " << path << ", " << form << ", type " << type;
            EXPECT_EQ(quiet, expected)
                << "round " << round << ", " << path << ", " << form << ", type " << type;
            if (round == 0 && change == 0) {
                EXPECT_EQ(traced.first, 0);
            }
            matched += expected.first == 1 ? 1 : 0;
            ++compared;
        }
    }
    EXPECT_GT(matched, compared / 10);  // the sets are not all misses

    // Across the index's growth sizes: n distinct monitored paths (one trigger each, with forms
    // on every third), looked up present, absent and sharing a prefix with a monitored one.
    for (size_t n : {1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65}) {
        SCOPED_TRACE(n);
        kovatest::SetLogSettings(0, 0, 0);
        kovatest::Edit(kova::ResetProfileFlags);
        std::vector<ProfileSpec> chain;
        for (size_t i = 0; i < n; ++i) {
            const std::string path = "db" + std::to_string(i) + ".qix";
            chain.push_back({{i % 3 == 2 ? path + ":Order" : path}, 1, 1, 1, connectors[i % 4]});
        }
        for (const ProfileSpec& profile : chain)
            kovatest::AddTrigger(profile);
        const std::string last = "db" + std::to_string(n - 1) + ".qix";
        for (const std::string& path :
             {std::string("db0.qix"), last, "db" + std::to_string(n) + ".qix", last + "x",
              last.substr(0, last.size() - 1), std::string("db"), std::string("orders.qix")}) {
            const auto expected = ExpectedDecision(chain, ProfileSpec(), path,
                                                   "Order; Purchase "
                                                   "Order",
                                                   kova::kEventTypeUpdate);
            EXPECT_EQ(answer(kova::kLogInfo, path.c_str(), "Order", kova::kEventTypeUpdate),
                      expected)
                << path;
            EXPECT_EQ(answer(kova::kLogDebug, path.c_str(), "Order", kova::kEventTypeUpdate),
                      expected)
                << path;
        }
    }
}

// A snapshot keeps the configuration it took, whole, however many are published meanwhile.
TEST_F(MonitoringFilterTest, PublicationOnAnotherThreadNeverTearsTheConfigurationInUse) {
    kovatest::SetLogSettings(0, 0, 0);
    std::atomic<bool> stop{false};
    std::thread refresher([&] {
        for (int round = 0; round < 300; ++round) {
            kova::ProfileEdit edit;
            kova::ProfileConfiguration& configuration = edit.configuration();
            kova::ResetProfileFlags(configuration);
            for (int i = 0; i < 3; ++i) {
                kova::AddEventTriggerProfile(
                    configuration,
                    kovatest::NewTriggerProfile(
                        {{"x.qix", "orders.qix:Order"}, 1, 1, 1, "id-" + std::to_string(i)}));
            }
            kova::profileFlags(configuration).triggerProfileEnabled = 1;
            edit.Publish();
        }
        stop = true;
    });
    auto check = [this] {
        EventContext context;
        std::memset(&context, 0, sizeof context);
        context.dbHandle = db_;
        std::snprintf(context.dbPath, sizeof context.dbPath, "orders.qix");
        std::snprintf(context.formName, sizeof context.formName, "Order");
        context.eventType = kova::kEventTypeUpdate;
        context.noteClass = NOTE_CLASS_DOCUMENT;
        const kova::ConfigurationSnapshot snapshot;
        EXPECT_TRUE(snapshot.ok());
        const int result = kova::CheckIsEventMonitored(&context, *snapshot);
        std::vector<std::string> ids = kovatest::ListTexts(context.connectorIds);
        kova::KOVAListCleanUp(context.connectorIds);
        return std::make_pair(result, ids);
    };
    // While the refresher runs: either the chain as it was before the first publication (empty)
    // or a whole published chain, never a torn one.
    while (!stop.load()) {
        const auto [result, ids] = check();
        EXPECT_EQ(result == 1, !ids.empty());
        EXPECT_TRUE(ids.empty() || ids.size() == 3u) << ids.size();
    }
    refresher.join();
    const auto [result, ids] = check();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ids, (std::vector<std::string>{"id-0", "id-1", "id-2"}));
}

}  // namespace
