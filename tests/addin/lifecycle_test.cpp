// The life cycle inside one process: the unload sequence (CleanUp, then deregistration in table
// order) and a new start after it, as a host that unloads and reloads the add-in sees them.
#include "addin/lifecycle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "addin/notetable.h"
#include "profile/publication.h"
#include "profile/refresh.h"
#include "tests/support/testsupport.h"

namespace {

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(Lifecycle, UnloadEmptiesStateAndDeregistersThenAStartRegistersAnew) {
    kovatest::ResetAll();
    qixsim::CreateEventDatabase();
    qixsim::CreateDocument("kovaevents.qix", {{"Form", std::string("EventTriggerConfiguration")},
                                              {"ConnectorId", std::string("c")},
                                              {"EventTypes", qixsim::TextList{"Update"}},
                                              {"MonitoredDocuments", qixsim::TextList{"a.qix"}}});
    {
        kovasupport::StdoutCapture console;
        ASSERT_EQ(MainEntryPoint(), 0);
    }
    ASSERT_EQ(qixsim::RegistrationCount(), 8u);
    const uint32_t firstHandle = kova::ExtensionHookTable[0].registrationHandle;
    ASSERT_NE(kova::pEventTriggerProfile(kovatest::InForce()), nullptr);

    // A parked entry that never saw its after stage is released by the unload.
    kova::EventContext context{};
    kova::AddNoteEntryV75(kova::hDeleteNoteTable, context);

    kovasupport::StdoutCapture console;
    kova::CleanUp();
    EXPECT_EQ(kova::gHooksRegistered.load(), 0);
    EXPECT_EQ(kova::pEventTriggerProfile(kovatest::InForce()), nullptr);
    // The load-time configuration is in force and nothing is published until the next start: a
    // notification before the deregistration, on the write path or not, reads nothing, so no
    // trigger chain is built that nobody would free.
    EXPECT_TRUE(kova::ConfigurationsUnloaded());
    const kova::ProfileFlags loadTime{};
    EXPECT_EQ(std::memcmp(&kova::profileFlags(kovatest::InForce()), &loadTime, sizeof loadTime), 0);
    const uint64_t searches = qixsim::CallCount("QIXSearch");
    EXPECT_EQ(kova::ReadProfile(), 0);
    {
        kova::ConfigurationSnapshot snapshot;
        EXPECT_EQ(kova::ReadProfile(snapshot), 0);
    }
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), searches);
    EXPECT_EQ(kova::pEventTriggerProfile(kovatest::InForce()), nullptr);
    EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
    EXPECT_EQ(qixsim::RegistrationCount(), 8u);  // CleanUp deregisters nothing
    kova::DeregisterAllEntries();
    EXPECT_EQ(qixsim::RegistrationCount(), 0u);
    std::string text = console.Stop();
    EXPECT_EQ(Count(text, "Calling EMDeregister with "), 8);
    EXPECT_EQ(Count(text, "EMDregister Failed"), 0);

    // After CleanUp the once-only flag is clear: a new start performs the whole start-up again.
    kovasupport::StdoutCapture again;
    EXPECT_EQ(MainEntryPoint(), 0);
    text = again.Stop();
    EXPECT_EQ(Count(text, "Calling EMRegister with "), 8);
    EXPECT_EQ(Count(text, "Already registered"), 0);
    EXPECT_EQ(qixsim::RegistrationCount(), 8u);
    EXPECT_NE(kova::ExtensionHookTable[0].registrationHandle, firstHandle);
    EXPECT_FALSE(kova::ConfigurationsUnloaded());
    EXPECT_NE(kova::pEventTriggerProfile(kovatest::InForce()), nullptr);  // read again
}

TEST(Lifecycle, DeregistrationStopsAtTheFirstFailure) {
    kovatest::ResetAll();
    qixsim::CreateEventDatabase();
    {
        kovasupport::StdoutCapture console;
        ASSERT_EQ(MainEntryPoint(), 0);
    }
    qixsim::FailNth("EMDeregister", ERR_QIX_BAD_REGISTRATION, 3);
    kovasupport::StdoutCapture console;
    kova::DeregisterAllEntries();
    const std::string text = console.Stop();
    EXPECT_EQ(Count(text, "Calling EMDeregister with "), 3);
    EXPECT_EQ(Count(text, "EMDregister Failed\n"), 1);
    EXPECT_EQ(qixsim::RegistrationCount(), 6u);
    EXPECT_EQ(qixsim::CallCount("EMDeregister"), 3u);
}

}  // namespace
