// The monitoring filter: rejection of non-documents, path entries, form aliases, entry syntax
// (empty form part, drive-letter colon), duplicate connector ids, the trigger chain against the
// deprecated configuration profile, event types, records that cannot be pinned, a refresh racing
// the filter, the index that answers below DEBUG against the walk over random profile sets, and
// the explanation of each profile's verdict against both.
#include "capture/filter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/lockfaults.h"
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

    // The filter's answer with exactly one trigger profile holding `entry`.
    int MatchesSingleEntry(const std::string& entry, const char* form = "Order") {
        {
            kova::ProfileEdit edit;
            kova::CleanUpEventTriggerProfile();
        }
        kovatest::AddTrigger({{entry}, 1, 1, 1, "c"});
        return kova::CheckIsEventMonitored(Context("orders.qix", form));
    }

    // One profile's explanation, copied out of the call; a null text shows as "(null)".
    struct Explained {
        std::string connector;
        bool deprecated;
        kova::MonitorVerdict verdict;
        std::string entry;
        std::string formPart;
        std::string title;
        bool operator==(const Explained& other) const {
            return std::tie(connector, deprecated, verdict, entry, formPart, title) ==
                   std::tie(other.connector, other.deprecated, other.verdict, other.entry,
                            other.formPart, other.title);
        }
    };
    static std::vector<Explained> Explain(const EventContext& context,
                                          kova::ExplainOutcome* outcome = nullptr) {
        std::vector<Explained> all;
        const kova::ExplainOutcome answered = kova::ExplainEventMonitored(
            context,
            [](void* user, const kova::MonitorExplanation& e) noexcept {
                auto text = [](const char* value) { return std::string(value ? value : "(null)"); };
                static_cast<std::vector<Explained>*>(user)->push_back(
                    {e.connectorId, e.deprecatedProfile, e.verdict, text(e.entry), text(e.formPart),
                     e.formTitle});
            },
            &all);
        if (outcome != nullptr)
            *outcome = answered;
        return all;
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
    EXPECT_EQ(kova::CheckIsEventMonitored(design), 0);
    EXPECT_EQ(kova::CheckIsEventMonitored(formless), 0);
    EXPECT_EQ(design->connectorIds, nullptr);
    EXPECT_EQ(formless->connectorIds, nullptr);
    EXPECT_TRUE(kovatest::LogEntries().empty());
    EXPECT_EQ(qixsim::TotalCallCount(), 0u);  // not even the form-title lookup
}

// Records that cannot be pinned are never read unguarded: the change passes as not monitored,
// with an ERROR line, and the next change is filtered as usual.
TEST_F(MonitoringFilterTest, RecordsThatCannotBePinnedLetTheChangePassWithAnError) {
    kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "c"});
    kovatest::SetLogSettings(kova::kLogError, 0, 1);
    EventContext* refused = Context();
    kovatest::FailNextReadLock();
    EXPECT_EQ(kova::CheckIsEventMonitored(refused), 0);
    EXPECT_FALSE(kovatest::LockFailurePending()) << "the records were not pinned";
    EXPECT_EQ(refused->connectorIds, nullptr);
    EXPECT_EQ(kovatest::LogEntries(),
              std::vector<std::string>{"KOVA:ERROR:Error locking the profile records.\n"});
    EXPECT_EQ(kova::CheckIsEventMonitored(Context()), 1);
}

TEST_F(MonitoringFilterTest, PathEntryMatchesTheNormalisedServerPathExactly) {
    kovatest::AddTrigger({{"sub/orders.qix"}, 1, 1, 1, "conn-1"});
    EventContext* context = Context("sub\\orders.qix");
    EXPECT_EQ(kova::CheckIsEventMonitored(context), 1);
    EXPECT_EQ(kovatest::ListTexts(context->connectorIds), std::vector<std::string>{"conn-1"});
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{
                  "KOVA:DEBUG:CheckIsEventMonitored\n",
                  "KOVA:DEBUG:Comparing Database Paths: sub\\orders.qix, sub/orders.qix\n",
                  "KOVA:DEBUG:Event is monitored!"}));

    EXPECT_EQ(kova::CheckIsEventMonitored(Context("SUB\\orders.qix")), 0);
    EXPECT_EQ(kova::CheckIsEventMonitored(Context("sub/orders.qix ")), 0);
    EXPECT_EQ(kova::CheckIsEventMonitored(Context("orders.qix")), 0);
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
    EXPECT_EQ(kova::CheckIsEventMonitored(Context("C:\\data\\orders.qix")), 0);

    {
        kova::ProfileEdit edit;
        kova::ResetProfileFlags();
    }
    kovatest::SetConfigurationProfile({{"C:/data/orders.qix"}, 1, 1, 1, "configuration"});
    EventContext* context = Context("C:\\data\\orders.qix");
    EXPECT_EQ(kova::CheckIsEventMonitored(context), 1);
    EXPECT_EQ(kovatest::ListTexts(context->connectorIds),
              std::vector<std::string>{"configuration"});
}

TEST_F(MonitoringFilterTest, ConnectorIdsAreCollectedOncePerProfileAndOncePerId) {
    // One profile listing the database twice: one id, and its walk stops at the first match.
    kovatest::AddTrigger({{"orders.qix", "orders.qix"}, 1, 1, 1, "twice"});
    EventContext* first = Context();
    EXPECT_EQ(kova::CheckIsEventMonitored(first), 1);
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
    EXPECT_EQ(kova::CheckIsEventMonitored(all), 1);
    EXPECT_EQ(kovatest::ListTexts(all->connectorIds), (std::vector<std::string>{"twice", "other"}));
}

TEST_F(MonitoringFilterTest, TriggerChainShadowsTheDeprecatedConfigurationProfile) {
    kovatest::SetConfigurationProfile({{"orders.qix"}, 1, 1, 1, "configuration"});
    kovatest::AddTrigger({{"other.qix"}, 1, 1, 1, "trigger"});
    EventContext* shadowed = Context();
    EXPECT_EQ(kova::CheckIsEventMonitored(shadowed), 0);
    EXPECT_EQ(shadowed->connectorIds, nullptr);

    {
        kova::ProfileEdit edit;
        kova::CleanUpEventTriggerProfile();
        kova::profileFlags().triggerProfileEnabled = 0;
    }
    EventContext* fallback = Context();
    EXPECT_EQ(kova::CheckIsEventMonitored(fallback), 1);
    EXPECT_EQ(kovatest::ListTexts(fallback->connectorIds),
              std::vector<std::string>{"configuration"});

    // The configuration profile's own event-type flags apply.
    kovatest::SetConfigurationProfile({{"orders.qix"}, 1, 0, 1, "configuration"});
    EXPECT_EQ(kova::CheckIsEventMonitored(Context()), 0);
    EXPECT_EQ(kova::CheckIsEventMonitored(Context("orders.qix", "Order", kova::kEventTypeCreate)),
              1);

    // Without entries: 0 and no comparison logged.
    kovatest::SetConfigurationProfile({{}, 1, 1, 1, "configuration"});
    const size_t before = kovatest::LogEntries().size();
    EXPECT_EQ(kova::CheckIsEventMonitored(Context()), 0);
    const std::vector<std::string> entries = kovatest::LogEntries();
    EXPECT_EQ(std::vector<std::string>(entries.begin() + static_cast<long>(before), entries.end()),
              std::vector<std::string>{"KOVA:DEBUG:CheckIsEventMonitored\n"});
}

TEST_F(MonitoringFilterTest, EventTypeMustBeWantedAndAnUnknownTypeNeverIs) {
    kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "all"});
    EXPECT_EQ(kova::CheckIsEventMonitored(Context("orders.qix", "Order", kova::kEventTypeUnknown)),
              0);

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

// The explanation gives each profile the verdict of its best entry and names the first entry that
// reached it, one row per reason; profiles come in chain order, and without a trigger profile the
// deprecated one answers alone. Non-documents and formless notes are turned away before.
TEST_F(MonitoringFilterTest, ExplanationGivesEachProfileItsVerdictAndTheEntryThatReachedIt) {
    using kova::MonitorVerdict;
    struct Row {
        std::vector<std::string> entries;
        int32_t updateEnabled;
        MonitorVerdict verdict;
        const char* entry;
        const char* formPart;
    };
    const Row rows[] = {
        {{"other.qix", "orders.qix ", "sales/orders.qix:Order"},
         1,
         MonitorVerdict::kOtherDatabase,
         "(null)",
         "(null)"},
        {{"other.qix:Order", "orders.qix:", "orders.qix:Invoice"},
         1,
         MonitorVerdict::kFormNotMatched,
         "orders.qix:",
         ""},
        {{"orders.qix:Invoice", "orders.qix:Purchase Order", "orders.qix"},
         0,
         MonitorVerdict::kEventTypeNotEnabled,
         "orders.qix:Purchase Order",
         "Purchase Order"},
        {{"orders.qix:order", "orders.qix:  Order", "orders.qix"},
         1,
         MonitorVerdict::kWanted,
         "orders.qix:  Order",
         "  Order"},
    };
    for (const Row& row : rows) {
        {
            kova::ProfileEdit edit;
            kova::CleanUpEventTriggerProfile();
        }
        kovatest::AddTrigger({row.entries, 1, row.updateEnabled, 1, "c"});
        EventContext* context = Context();
        const std::vector<Explained> explained = Explain(*context);
        EXPECT_EQ(explained, (std::vector<Explained>{{"c", false, row.verdict, row.entry,
                                                      row.formPart, "Order; Purchase Order"}}))
            << row.entries.front();
        EXPECT_EQ(kova::CheckIsEventMonitored(context), row.verdict == MonitorVerdict::kWanted);
    }

    kovatest::AddTrigger({{}, 1, 1, 1, "newest"});
    const std::vector<Explained> chain = Explain(*Context());
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].connector, "newest");
    EXPECT_EQ(chain[0].verdict, MonitorVerdict::kOtherDatabase);  // no entries at all
    EXPECT_EQ(chain[1].verdict, MonitorVerdict::kWanted);

    {
        kova::ProfileEdit edit;
        kova::CleanUpEventTriggerProfile();
    }
    kovatest::SetConfigurationProfile({{"orders.qix:Order", "orders.qix"}, 1, 0, 1, "legacy"});
    EXPECT_EQ(Explain(*Context()),
              (std::vector<Explained>{{"legacy", true, MonitorVerdict::kEventTypeNotEnabled,
                                       "orders.qix", "(null)", "Order; Purchase Order"}}));

    kova::ExplainOutcome outcome = kova::ExplainOutcome::kExplained;
    EXPECT_TRUE(
        Explain(*Context("orders.qix", "Order", kova::kEventTypeUpdate, NOTE_CLASS_FORM), &outcome)
            .empty());
    EXPECT_EQ(outcome, kova::ExplainOutcome::kNotADocument);
    EXPECT_TRUE(Explain(*Context("orders.qix", ""), &outcome).empty());
    EXPECT_EQ(outcome, kova::ExplainOutcome::kNoForm);
}

// Below DEBUG the filter answers from the index of the monitored entries, at DEBUG it walks every
// record: over random profile sets and changes both give the same result and the same connector
// ids in the same order. The first set pins an entry whose path part is a prefix of the event's
// path ("sales/orders:Order" against "sales/orders.qix"), which only the end-of-path test rejects.
TEST_F(MonitoringFilterTest, IndexAnswersWhatTheWalkAnswers) {
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
        const int result = kova::CheckIsEventMonitored(context);
        std::vector<std::string> ids = kovatest::ListTexts(context->connectorIds);
        kova::KOVAListCleanUp(context->connectorIds);
        context->connectorIds = nullptr;
        contexts_.pop_back();
        return std::make_pair(result, ids);
    };
    size_t matched = 0, compared = 0;
    for (int round = 0; round < 150; ++round) {
        kovatest::SetLogSettings(0, 0, 0);
        {
            kova::ProfileEdit edit;
            kova::ResetProfileFlags();
        }
        if (round == 0) {
            kovatest::AddTrigger({{"sales/orders:Order", "orders.qix:Order"}, 1, 1, 1, "prefix"});
        } else if (round % 10 == 0) {  // no trigger: the deprecated profile's whole entries
            std::vector<std::string> entries;
            for (size_t i = pick(4); i > 0; --i)
                entries.push_back(std::string(paths[pick(5)]) + forms[pick(2)]);
            kovatest::SetConfigurationProfile(
                {entries, int32_t(pick(2)), int32_t(pick(2)), int32_t(pick(2)), "legacy"});
        } else {
            for (size_t p = 1 + pick(6); p > 0; --p) {
                std::vector<std::string> entries;
                for (size_t i = pick(4); i > 0; --i)
                    entries.push_back(std::string(paths[pick(5)]) + forms[pick(9)]);
                kovatest::AddTrigger({entries, int32_t(pick(2)), int32_t(pick(2)), int32_t(pick(2)),
                                      connectors[pick(4)]});
            }
        }
        for (int change = 0; change < 12; ++change) {
            const char* path = round == 0 && change == 0 ? "sales/orders.qix" : eventPaths[pick(5)];
            const char* form = pick(3) == 0 ? "Invoice" : "Order";
            const int32_t type = static_cast<int32_t>(pick(4)) - 1;
            const auto walked = answer(kova::kLogDebug, path, form, type);
            const auto indexed = answer(kova::kLogInfo, path, form, type);
            EXPECT_EQ(indexed, walked)
                << "round " << round << ", " << path << ", " << form << ", type " << type;
            // The explanation marks wanted exactly the profiles whose ids the filter collects.
            std::set<std::string> explained;
            for (const Explained& profile : Explain(*Context(path, form, type))) {
                if (profile.verdict == kova::MonitorVerdict::kWanted)
                    explained.insert(profile.connector);
            }
            contexts_.pop_back();
            EXPECT_EQ(explained, std::set<std::string>(walked.second.begin(), walked.second.end()))
                << "round " << round << ", " << path << ", " << form << ", type " << type;
            if (round == 0 && change == 0) {
                EXPECT_EQ(walked.first, 0);
            }
            matched += walked.first == 1 ? 1 : 0;
            ++compared;
        }
    }
    EXPECT_GT(matched, compared / 10);  // the sets are not all misses
}

TEST_F(MonitoringFilterTest, RefreshOnAnotherThreadNeverTearsTheWalk) {
    kovatest::SetLogSettings(0, 0, 0);
    std::atomic<bool> stop{false};
    std::thread refresher([&] {
        for (int round = 0; round < 300; ++round) {
            kova::ProfileEdit edit;
            kova::ResetProfileFlags();
            for (int i = 0; i < 3; ++i) {
                kova::AddEventTriggerProfile(kovatest::NewTriggerProfile(
                    {{"x.qix", "orders.qix:Order"}, 1, 1, 1, "id-" + std::to_string(i)}));
            }
            kova::profileFlags().triggerProfileEnabled = 1;
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
        const int result = kova::CheckIsEventMonitored(&context);
        std::vector<std::string> ids = kovatest::ListTexts(context.connectorIds);
        kova::KOVAListCleanUp(context.connectorIds);
        return std::make_pair(result, ids);
    };
    // While the refresher runs: either the chain as it was before the first refresh (empty) or
    // a whole refreshed chain, never a torn one.
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
