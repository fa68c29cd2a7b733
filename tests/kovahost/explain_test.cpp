// kovahost's explanation of the filter's decision (ExplainProfiles), over configurations put in
// force in kovahost's own copy of the add-in: each profile's verdict and the entry that reached
// it, the chain order and the deprecated profile, the notes no profile is asked about, and, over
// random profile sets, the profiles found wanted against the connector ids the filter collects.
#include "tools/kovahost/explain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/testsupport.h"
#ifdef __linux__
#include "tests/support/lockfaults.h"
#endif

namespace kovahost {
namespace {

using kova::EventContext;
using kova::MonitorVerdict;

class ExplainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
        ASSERT_EQ(qixsim::CreateForm("orders.qix", "Order; Purchase Order"), 0);
        ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
        kovatest::SetLogSettings(kova::kLogError, 0, 0);
    }
    void TearDown() override {
        qixsim::CloseHandle(db_);
        kovatest::ResetAll();
    }

    EventContext Context(const char* path = "orders.qix", const char* form = "Order",
                         int32_t eventType = kova::kEventTypeUpdate,
                         uint16_t noteClass = NOTE_CLASS_DOCUMENT) const {
        EventContext context;
        std::memset(&context, 0, sizeof context);
        context.dbHandle = db_;
        std::snprintf(context.dbPath, sizeof context.dbPath, "%s", path);
        std::snprintf(context.formName, sizeof context.formName, "%s", form);
        context.eventType = eventType;
        context.noteClass = noteClass;
        return context;
    }

    static NoteExplanation Explain(const EventContext& context) {
        NoteExplanation explanation;
        ExplainProfiles(context, explanation);
        return explanation;
    }

    // The connector ids the filter collects for `context`, as a set.
    static std::set<std::string> Collected(EventContext context) {
        kova::CheckIsEventMonitored(&context, kovatest::InForce());
        const std::vector<std::string> ids = kovatest::ListTexts(context.connectorIds);
        kova::KOVAListCleanUp(context.connectorIds);
        return {ids.begin(), ids.end()};
    }

    DBHANDLE db_ = 0;
};

// One verdict, as compared: the form part shows as "(null)" when the entry has none.
struct Verdict {
    std::string connector;
    bool deprecated;
    MonitorVerdict verdict;
    std::string entry;
    std::string formPart;
    bool operator==(const Verdict& other) const {
        return connector == other.connector && deprecated == other.deprecated &&
               verdict == other.verdict && entry == other.entry && formPart == other.formPart;
    }
};
std::ostream& operator<<(std::ostream& out, const Verdict& v) {
    return out << "{" << v.connector << (v.deprecated ? " deprecated " : " ")
               << static_cast<int>(v.verdict) << " '" << v.entry << "' '" << v.formPart << "'}";
}

std::vector<Verdict> Verdicts(const NoteExplanation& explanation) {
    std::vector<Verdict> all;
    for (const ProfileVerdict& v : explanation.verdicts) {
        all.push_back(
            {v.connector, v.deprecated, v.verdict, v.entry, v.hasFormPart ? v.formPart : "(null)"});
    }
    return all;
}

// Each profile gets the verdict of its best entry and names the first entry that reached it, one
// row per reason; profiles come in chain order, and without a trigger profile the deprecated one
// answers alone. Non-documents and formless notes are turned away before any profile is asked.
TEST_F(ExplainTest, EachProfileGetsItsVerdictAndTheEntryThatReachedIt) {
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
         "",
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
        kovatest::Edit(kova::CleanUpEventTriggerProfile);
        kovatest::AddTrigger({row.entries, 1, row.updateEnabled, 1, "c"});
        const NoteExplanation explained = Explain(Context());
        EXPECT_EQ(Verdicts(explained),
                  (std::vector<Verdict>{{"c", false, row.verdict, row.entry, row.formPart}}))
            << row.entries.front();
        EXPECT_EQ(explained.title, "Order; Purchase Order");
        ASSERT_EQ(explained.verdicts.size(), 1u);
        EXPECT_EQ(explained.verdicts[0].entries, row.entries);
        EventContext context = Context();
        EXPECT_EQ(kova::CheckIsEventMonitored(&context, kovatest::InForce()),
                  row.verdict == MonitorVerdict::kWanted);
        kova::KOVAListCleanUp(context.connectorIds);
    }

    kovatest::AddTrigger({{}, 1, 1, 1, "newest"});
    const std::vector<Verdict> chain = Verdicts(Explain(Context()));
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].connector, "newest");
    EXPECT_EQ(chain[0].verdict, MonitorVerdict::kOtherDatabase);  // no entries at all
    EXPECT_EQ(chain[1].verdict, MonitorVerdict::kWanted);

    kovatest::Edit(kova::CleanUpEventTriggerProfile);
    kovatest::SetConfigurationProfile({{"orders.qix:Order", "orders.qix"}, 1, 0, 1, "legacy"});
    const NoteExplanation deprecated = Explain(Context());
    EXPECT_EQ(Verdicts(deprecated),
              (std::vector<Verdict>{
                  {"legacy", true, MonitorVerdict::kEventTypeNotEnabled, "orders.qix", "(null)"}}));
    EXPECT_EQ(deprecated.title, "Order; Purchase Order");

    const NoteExplanation design =
        Explain(Context("orders.qix", "Order", kova::kEventTypeUpdate, NOTE_CLASS_FORM));
    EXPECT_TRUE(design.verdicts.empty());
    EXPECT_EQ(design.skipped, "not a document: the add-in asks no profile");
    const NoteExplanation formless = Explain(Context("orders.qix", ""));
    EXPECT_TRUE(formless.verdicts.empty());
    EXPECT_EQ(formless.skipped, "the note has no Form item: the add-in asks no profile");

#ifdef __linux__
    // The explanation's snapshot of the configuration in force cannot be taken.
    kovatest::FailNextMutexLock();
    const NoteExplanation unlocked = Explain(Context());
    EXPECT_FALSE(kovatest::LockFailurePending());
    EXPECT_TRUE(unlocked.verdicts.empty());
    EXPECT_EQ(unlocked.skipped, "the profile records could not be locked");
#endif
}

// Over random profile sets and changes, the explanation marks wanted exactly the profiles whose
// ids the filter collects.
TEST_F(ExplainTest, ProfilesFoundWantedAreThoseWhoseIdsTheFilterCollects) {
    const char* const paths[] = {"orders.qix", "sales/orders.qix", "sales/orders",
                                 "Sales/orders.qix", "sales/orders.qix "};
    const char* const forms[] = {"",  ":Order",       ":Purchase Order", ":  Order", ":Order ",
                                 ":", ":Order:Extra", ":Invoice",        ":order"};
    const char* const connectors[] = {"a", "b", "c", "d"};
    const char* const eventPaths[] = {"orders.qix", "sales\\orders.qix", "sales/orders.qix",
                                      "sales/orders", "Sales/orders.qix"};
    std::mt19937 random(20261208);
    auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    size_t wanted = 0, compared = 0;
    for (int round = 0; round < 150; ++round) {
        kovatest::Edit(kova::ResetProfileFlags);
        if (round % 10 == 0) {  // no trigger: the deprecated profile's whole entries
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
            const EventContext context = Context(path, form, type);
            std::set<std::string> explained;
            for (const ProfileVerdict& profile : Explain(context).verdicts) {
                if (profile.verdict == MonitorVerdict::kWanted)
                    explained.insert(profile.connector);
            }
            EXPECT_EQ(explained, Collected(context))
                << "round " << round << ", " << path << ", " << form << ", type " << type;
            wanted += explained.empty() ? 0 : 1;
            ++compared;
        }
    }
    EXPECT_GT(wanted, compared / 10);  // the sets are not all misses
}

}  // namespace
}  // namespace kovahost
