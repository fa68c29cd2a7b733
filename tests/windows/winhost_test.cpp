// The Windows test host's cases: kovaevents.dll loaded with LoadLibrary over the stand-in server
// (qixapi.dll), both entry points taken by ordinal, note operations on a monitored database whose
// paths the server reports with backslashes, the library unloaded with FreeLibrary and what its
// detach undid, and a process that exits with the library still loaded. GoogleTest, cross-built
// for Windows; main() reports a crash by the case's name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/windows/winhost.h"
#include "tools/support/standin.h"
#include "tools/support/stdout_capture.h"

namespace {

using kovasupport::StdoutCapture;
using winhost::AddinLibrary;
using Strings = std::vector<std::string>;

const std::string kSep = "-------------------------------------------------";
const char* const kRowNames[] = {
    "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATEXTENDED", "EM_QIXNOTEUPDATEXTENDED",
    "EM_QIXNOTEDELETE", "EM_QIXNOTEDELETE", "EM_QIXDBDELETENOTES",     "EM_QIXDBDELETENOTES"};
const char kOrders[] = "sales/orders.qix";
// The argument that makes this program the child of ExitWithTheLibraryLoadedTouchesNothing.
const char kExitWhileLoaded[] = "--exit-while-loaded";
constexpr UINT kChildExitCode = 7;

Strings StartupLines() {
    Strings lines{"Event Listener initialization starting.", kSep, "Calling EMCreateRecursionID",
                  "EMCreateRecursionID Returned Success"};
    for (const char* name : kRowNames) {
        lines.push_back(kSep);
        lines.push_back(std::string("Calling EMRegister with ") + name);
        lines.push_back(kSep);
    }
    lines.push_back("Processing Profile Database.");
    lines.push_back("Event Listener initialization complete.");
    return lines;
}

// What detach prints when the rows before `failingRow` deregister and `failingRow` fails
// (failingRow 8: every row deregisters).
Strings DetachLines(int failingRow) {
    Strings lines;
    for (int row = 0; row < 8; ++row) {
        lines.push_back(kSep);
        lines.push_back(std::string("Calling EMDeregister with ") + kRowNames[row]);
        if (row == failingRow) {
            lines.push_back("EMDregister Failed");
            break;
        }
        lines.push_back(kSep);
    }
    return lines;
}

// Starts the loaded add-in with the console captured; answers MainEntryPoint's status.
STATUS Start(const AddinLibrary& addin, Strings* lines = nullptr) {
    EXPECT_NE(addin.MainEntryPoint(), nullptr) << "ordinal 1 found";
    if (addin.MainEntryPoint() == nullptr)
        return 0xFFFF;
    StdoutCapture console;
    const STATUS status = addin.MainEntryPoint()();
    const Strings printed = winhost::Lines(console.Stop());
    if (lines != nullptr)
        *lines = printed;
    return status;
}

// Starts the add-in and checks what a normal start-up prints and registers.
void ExpectStartUp(const AddinLibrary& addin) {
    Strings lines;
    EXPECT_EQ(Start(addin, &lines), 0) << "MainEntryPoint status";
    EXPECT_EQ(lines, StartupLines()) << "start-up lines";
    EXPECT_EQ(qixsim::RegistrationCount(), 8u) << "registrations after start-up";
}

// Unloads the add-in with the console captured; answers the lines detach printed.
Strings Unload(AddinLibrary& addin) {
    StdoutCapture console;
    const bool freed = addin.Unload();
    const Strings lines = winhost::Lines(console.Stop());
    EXPECT_TRUE(freed) << "FreeLibrary succeeded";
    return lines;
}

bool IsEventId(const std::string& id) {
    if (id.size() != 32)
        return false;
    for (char c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) ||
            std::islower(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

qixsim::Items Form(const std::string& form) {
    return {{"Form", form}};
}

void AddTrigger(const std::string& connector, const qixsim::TextList& types,
                const qixsim::TextList& monitored) {
    kovasupport::AddProfile({{"Form", std::string("EventTriggerConfiguration")},
                             {"ConnectorId", connector},
                             {"EventTypes", types},
                             {"MonitoredDocuments", monitored}});
}

TEST(WindowsHost, ExportTableHoldsOnlyTheTwoEntryPoints) {
    winhost::FreshServer();
    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    const winhost::ExportTable table = winhost::ReadExportTable(addin.Module());
    EXPECT_TRUE(table.present) << "export directory present";
    EXPECT_EQ(table.ordinalBase, 1u) << "ordinal base";
    EXPECT_EQ(table.functionCount, 2u) << "exported functions";
    EXPECT_EQ(table.namedOrdinals, (Strings{"ExtMgrCallback@2", "MainEntryPoint@1"}))
        << "names and ordinals";
    const HMODULE module = addin.Module();
    EXPECT_TRUE(GetProcAddress(module, MAKEINTRESOURCEA(1)) ==
                GetProcAddress(module, "MainEntryPoint"))
        << "ordinal 1 is MainEntryPoint";
    EXPECT_TRUE(GetProcAddress(module, MAKEINTRESOURCEA(2)) ==
                GetProcAddress(module, "ExtMgrCallback"))
        << "ordinal 2 is ExtMgrCallback";
    EXPECT_TRUE(GetProcAddress(module, MAKEINTRESOURCEA(3)) == nullptr) << "no ordinal 3";
    Unload(addin);
}

TEST(WindowsHost, LifecycleWithBackslashPathsWritesEveryEvent) {
    winhost::FreshServer();
    // "erp" wants every change to "Order" documents (the form's other name included) and names
    // the database with a backslash; "audit" wants deletes of any document of the database.
    AddTrigger("erp", {"Create", "Update", "Delete"}, {"sales\\orders.qix:Order"});
    AddTrigger("audit", {"Delete"}, {"sales/orders.qix"});
    kovasupport::AddProfile({{"Form", std::string("SystemConfiguration")},
                             {"LogLevel", std::string("INFO")},
                             {"LogOutputs", qixsim::TextList{"log.qix"}}});

    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    ExpectStartUp(addin);

    using kovasupport::CreateDoc;
    using kovasupport::UpdateDoc;
    STATUS status = 1;
    const NOTEID a = CreateDoc(kOrders, Form("Order"), &status);
    EXPECT_EQ(status, 0) << "create a";
    const NOTEID b = CreateDoc(kOrders, Form("Purchase Order"));
    const NOTEID c = CreateDoc(kOrders, Form("Invoice"));  // no such form: only "audit"
    const NOTEID other = CreateDoc("other.qix", Form("Order"));
    EXPECT_EQ(UpdateDoc("other.qix", other, {{"Title", std::string("not monitored")}}), 0)
        << "update other";
    EXPECT_EQ(UpdateDoc(kOrders, a, {{"Title", std::string("Lamp")}}), 0) << "update a";
    EXPECT_EQ(UpdateDoc(kOrders, a, {{"Title", std::string("Desk lamp")}}, true), 0)
        << "extended update a";
    const std::string ua = kovasupport::UnidOf(kOrders, a);
    const std::string ub = kovasupport::UnidOf(kOrders, b);
    const std::string uc = kovasupport::UnidOf(kOrders, c);
    EXPECT_EQ(kovasupport::DeleteDoc(kOrders, a), 0) << "delete a";
    EXPECT_EQ(kovasupport::DeleteDocs(kOrders, {b, c}), 0) << "bulk delete b, c";

    using winhost::EventText;
    std::multiset<std::string> expected{
        EventText("Create", kOrders, "Order", ua, a, "erp"),
        EventText("Create", kOrders, "Purchase Order", ub, b, "erp"),
        EventText("Update", kOrders, "Order", ua, a, "erp"),
        EventText("Update", kOrders, "Order", ua, a, "erp"),
        EventText("Delete", kOrders, "Order", ua, a, "erp"),
        EventText("Delete", kOrders, "Order", ua, a, "audit"),
        EventText("Delete", kOrders, "Purchase Order", ub, b, "erp"),
        EventText("Delete", kOrders, "Purchase Order", ub, b, "audit"),
        EventText("Delete", kOrders, "Invoice", uc, c, "audit"),
    };
    const Strings events = winhost::Events();
    EXPECT_EQ(events.size(), expected.size()) << "event count";
    const std::multiset<std::string> got(events.begin(), events.end());
    EXPECT_EQ(Strings(got.begin(), got.end()), Strings(expected.begin(), expected.end()))
        << "Event documents";
    const Strings ids = winhost::EventIds();
    for (const auto& id : ids)
        EXPECT_TRUE(IsEventId(id)) << "EventId of 32 upper-case hex digits: " << id;
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size())
        << "EventIds distinct";

    // The INFO line of the writer shows the path as the server gave it, with its backslash.
    bool loggedServerPath = false;
    for (const auto& entry : qixsim::LogEntries())
        loggedServerPath |= entry.find("Database Name: sales\\orders.qix, ") != std::string::npos;
    EXPECT_TRUE(loggedServerPath) << "log.qix holds the writer's line with the backslash path";

    EXPECT_EQ(Unload(addin), DetachLines(8)) << "detach lines";
    EXPECT_EQ(qixsim::RegistrationCount(), 0u) << "registrations after unload";
    // Nothing reaches the unloaded library any more.
    CreateDoc(kOrders, Form("Order"));
    EXPECT_EQ(winhost::Events().size(), expected.size()) << "events after unload";
    EXPECT_EQ(qixsim::OpenHandleCount(), 0u) << "open handles";
}

TEST(WindowsHost, DetachWithoutMainEntryPointStopsAtRowZero) {
    winhost::FreshServer();
    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    qixsim::ResetCallCounts();
    EXPECT_EQ(Unload(addin), DetachLines(0)) << "detach lines";
    EXPECT_EQ(qixsim::CallCount("EMDeregister"), 1u) << "EMDeregister calls";
    EXPECT_EQ(qixsim::RegistrationCount(), 0u) << "registrations";
}

TEST(WindowsHost, DeregisterFailureStopsTheWalk) {
    winhost::FreshServer();
    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    EXPECT_EQ(Start(addin), 0) << "MainEntryPoint status";
    qixsim::FailNth("EMDeregister", 0x4444, 3);
    EXPECT_EQ(Unload(addin), DetachLines(2)) << "detach lines";
    EXPECT_EQ(qixsim::RegistrationCount(), 6u) << "registrations left behind";
    // The rows left registered point into the unloaded library: drop them before anything else.
    qixsim::Reset();
}

TEST(WindowsHost, StartAgainAfterUnloadRegistersAnew) {
    winhost::FreshServer();
    AddTrigger("erp", {"Create"}, {"sales\\orders.qix"});
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        AddinLibrary addin;
        ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
        ExpectStartUp(addin);
        kovasupport::CreateDoc(kOrders, Form("Order"));
        EXPECT_EQ(winhost::Events().size(), static_cast<std::size_t>(cycle)) << "events";
        // Detach deregisters the handles of this start-up; the first one's are gone already.
        EXPECT_EQ(Unload(addin), DetachLines(8)) << "detach lines";
        EXPECT_EQ(qixsim::RegistrationCount(), 0u) << "registrations after unload";
    }
}

TEST(WindowsHost, ConcurrentCreatesFromFourThreads) {
    winhost::FreshServer();
    AddTrigger("erp", {"Create"}, {"sales\\orders.qix"});
    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    EXPECT_EQ(Start(addin), 0) << "MainEntryPoint status";
    constexpr int kThreads = 4;
    constexpr int kCreates = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kCreates; ++i)
                kovasupport::CreateDoc(kOrders, Form("Order"));
        });
    }
    for (auto& thread : threads)
        thread.join();
    const Strings events = winhost::Events();
    EXPECT_EQ(events.size(), static_cast<std::size_t>(kThreads * kCreates)) << "events";
    const std::set<std::string> distinct(events.begin(), events.end());
    EXPECT_EQ(distinct.size(), events.size()) << "one event per note";
    EXPECT_EQ(Unload(addin), DetachLines(8)) << "detach lines";
    EXPECT_EQ(qixsim::OpenHandleCount(), 0u) << "open handles";
}

// The server unloads the library while another of its threads has a note between the two stages:
// the detach frees the parked entry with the rest, prints its lines, and the operation's after
// stage, which comes once the hooks are gone, reaches nothing of the add-in. The host thread
// captures one change first, so that what the add-in's runtime sets up for a thread is in place
// and the blocks that appear while the second note is parked are the entry's own.
struct ParkedNote {
    HANDLE parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> holding{false};
    std::set<uintptr_t> before;  // the add-in's blocks when the second create began
    std::set<uintptr_t> blocks;  // those it allocated for the parked note
    ~ParkedNote() {
        CloseHandle(parked);
        CloseHandle(unloaded);
    }
};
ParkedNote* gParked = nullptr;

// A host handler registered after the add-in: its before stage runs once the add-in has parked
// the note, and holds the operation there until the library is gone.
STATUS HoldBeforeStage(EMRECORD* record) {
    if (record->stage != EM_STAGE_BEFORE || gParked == nullptr || !gParked->holding)
        return EM_CONTINUE_STATUS;
    for (uintptr_t block : winhost::heap::LiveBlocks()) {
        if (gParked->before.count(block) == 0)
            gParked->blocks.insert(block);
    }
    SetEvent(gParked->parked);
    WaitForSingleObject(gParked->unloaded, 30000);
    return EM_CONTINUE_STATUS;
}

TEST(WindowsHost, UnloadWithANoteBetweenItsStagesFreesIt) {
    winhost::FreshServer();
    AddTrigger("erp", {"Create", "Update"}, {"sales\\orders.qix"});
    AddinLibrary addin;
    ASSERT_TRUE(addin.Loaded()) << "LoadLibrary(kovaevents.dll)";
    ASSERT_TRUE(winhost::heap::Track(addin.Module())) << "the add-in's allocations recorded";
    ExpectStartUp(addin);
    uint16_t recursion = 0;
    uint32_t hold = 0;
    ASSERT_EQ(EMCreateRecursionID(&recursion), 0);
    ASSERT_EQ(EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE, HoldBeforeStage, recursion, &hold), 0);

    ParkedNote parked;
    gParked = &parked;
    STATUS created = 1;
    std::thread host([&] {
        kovasupport::CreateDoc(kOrders, Form("Order"));  // captured
        parked.before = winhost::heap::LiveBlocks();
        parked.holding = true;
        kovasupport::CreateDoc(kOrders, Form("Order"), &created);  // parked, then unloaded
    });
    const bool wasParked = WaitForSingleObject(parked.parked, 30000) == WAIT_OBJECT_0;
    const Strings detach = Unload(addin);
    SetEvent(parked.unloaded);
    host.join();
    gParked = nullptr;
    ASSERT_TRUE(wasParked) << "the second create reached its before stage";

    EXPECT_FALSE(parked.blocks.empty()) << "the add-in parked the note";
    const std::set<uintptr_t> live = winhost::heap::LiveBlocks();
    for (uintptr_t block : parked.blocks)
        EXPECT_EQ(live.count(block), 0u) << "a block of the parked note outlived the detach";
    EXPECT_EQ(detach, DetachLines(8)) << "detach lines";
    EXPECT_EQ(created, 0) << "the create went on";
    EXPECT_EQ(winhost::Events().size(), 1u) << "only the first create's Event document";
    EXPECT_EQ(qixsim::OpenHandleCount(), 0u) << "open handles";
    EXPECT_EQ(qixsim::RegistrationCount(), 1u) << "only the host's own registration is left";
    EXPECT_EQ(EMDeregister(hold), 0);
}

// The child: starts the add-in, captures a change, and ends the process with the library still
// loaded, so that its detach runs as the process terminates.
int ExitWhileLoaded() {
    winhost::FreshServer();
    AddTrigger("erp", {"Create"}, {"sales\\orders.qix"});
    AddinLibrary addin;
    if (!addin.Loaded() || addin.MainEntryPoint() == nullptr || addin.MainEntryPoint()() != 0)
        return 1;
    kovasupport::CreateDoc(kOrders, Form("Order"));
    std::printf("events: %u\n", static_cast<unsigned>(winhost::Events().size()));
    std::fflush(stdout);
    ExitProcess(kChildExitCode);
    return 0;  // not reached
}

// When the process terminates, the detach takes no lock and deregisters nothing: the other
// threads are gone, possibly holding a lock, and the server's memory goes with the process.
TEST(WindowsHost, ExitWithTheLibraryLoadedTouchesNothing) {
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    char folder[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
    const std::string output = std::string(folder) + "kovaevents-exit-while-loaded.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE file = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = std::string("\"") + self + "\" " + kExitWhileLoaded;
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child);
    CloseHandle(file);
    ASSERT_TRUE(started) << "CreateProcess: " << GetLastError();
    const DWORD waited = WaitForSingleObject(child.hProcess, 30000);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the exit did not hang";
    EXPECT_EQ(exitCode, kChildExitCode) << "the child's own exit code";

    std::FILE* in = std::fopen(output.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        text.append(buffer, n);
    std::fclose(in);
    std::remove(output.c_str());
    const Strings lines = winhost::Lines(text);
    Strings expected = StartupLines();
    expected.push_back("events: 1");
    EXPECT_EQ(lines, expected) << "start-up lines, the event, and no detach line";
}

// A crash (the host calling into an unloaded library, say) ends the run at once with the case's
// name, instead of starting a debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "[CRASHED] %s.%s: exception 0x%08lX\n",
                 test != nullptr ? test->test_suite_name() : "start-up",
                 test != nullptr ? test->name() : "",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    // Line ends as "\n", so that CTest reads the case list (--gtest_list_tests) as on UNIX.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && std::string(argv[1]) == kExitWhileLoaded)
        return ExitWhileLoaded();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
