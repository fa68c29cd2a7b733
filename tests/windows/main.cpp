// The Windows test host: loads kovaevents.dll with LoadLibrary over the stand-in server
// (qixapi.dll), takes both entry points by ordinal, runs note operations on a monitored database
// whose paths the server reports with backslashes, unloads the library with FreeLibrary and
// checks what its detach undid. Prints one line per case and exits non-zero on any difference.
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "tests/windows/winhost.h"

namespace {

using winhost::AddinLibrary;
using winhost::ConsoleCapture;
using Strings = std::vector<std::string>;

const std::string kSep = "-------------------------------------------------";
const char* const kRowNames[] = {
    "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATEXTENDED", "EM_QIXNOTEUPDATEXTENDED",
    "EM_QIXNOTEDELETE", "EM_QIXNOTEDELETE", "EM_QIXDBDELETENOTES",     "EM_QIXDBDELETENOTES"};
const char kOrders[] = "sales/orders.qix";

std::string Text(const std::string& value) {
    return "\"" + value + "\"";
}
template <typename T, typename = std::enable_if_t<std::is_arithmetic<T>::value>>
std::string Text(T value) {
    return std::to_string(value);
}
std::string Text(const Strings& values) {
    std::string text = "{";
    for (const auto& value : values)
        text += "\n    " + Text(value);
    return text + "\n  }";
}

const char* gRunning = "start-up";  // the case in hand, named if the host crashes

// A crash (the host calling into an unloaded library, say) ends the run at once with the case's
// name, instead of starting a debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "[CRASHED] %s: exception 0x%08lX\n", gRunning,
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The checks of one case. Failures are collected and printed when the case ends, so that a
// failure found while the console is captured still reaches the real console.
class Case {
  public:
    explicit Case(const char* name) : name_(name) { gRunning = name; }
    ~Case() {
        std::fflush(stdout);
        std::printf("%s %s\n", failures_.empty() ? "[  OK  ]" : "[FAILED]", name_);
        for (const auto& failure : failures_)
            std::printf("  %s\n", failure.c_str());
        std::fflush(stdout);
        (failures_.empty() ? sPassed : sFailed) += 1;
    }
    Case(const Case&) = delete;
    Case& operator=(const Case&) = delete;

    template <typename A, typename B>
    bool Equal(const A& actual, const B& expected, const char* what) {
        if (actual == expected)
            return true;
        failures_.push_back(std::string(what) + ": got " + Text(actual) + ", expected " +
                            Text(expected));
        return false;
    }
    bool True(bool condition, const char* what) {
        if (!condition)
            failures_.push_back(std::string(what) + ": not true");
        return condition;
    }

    static int sPassed;
    static int sFailed;

  private:
    const char* name_;
    Strings failures_;
};
int Case::sPassed = 0;
int Case::sFailed = 0;

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
STATUS Start(Case& check, const AddinLibrary& addin, Strings* lines = nullptr) {
    if (!check.True(addin.MainEntryPoint() != nullptr, "ordinal 1 found"))
        return 0xFFFF;
    ConsoleCapture console;
    const STATUS status = addin.MainEntryPoint()();
    const Strings printed = winhost::Lines(console.Stop());
    if (lines != nullptr)
        *lines = printed;
    return status;
}

// Unloads the add-in with the console captured; answers the lines detach printed.
Strings Unload(Case& check, AddinLibrary& addin) {
    ConsoleCapture console;
    const bool freed = addin.Unload();
    const Strings lines = winhost::Lines(console.Stop());
    check.True(freed, "FreeLibrary succeeded");
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

void AddTrigger(const std::string& connector, const qixsim::TextList& types,
                const qixsim::TextList& monitored) {
    winhost::AddProfile({{"Form", std::string("EventTriggerConfiguration")},
                         {"ConnectorId", connector},
                         {"EventTypes", types},
                         {"MonitoredDocuments", monitored}});
}

void ExportTableHoldsOnlyTheTwoEntryPoints() {
    Case check("ExportTableHoldsOnlyTheTwoEntryPoints");
    winhost::FreshServer();
    AddinLibrary addin;
    if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
        return;
    const winhost::ExportTable table = winhost::ReadExportTable(addin.Module());
    check.True(table.present, "export directory present");
    check.Equal(table.ordinalBase, 1u, "ordinal base");
    check.Equal(table.functionCount, 2u, "exported functions");
    check.Equal(table.namedOrdinals, Strings{"ExtMgrCallback@2", "MainEntryPoint@1"},
                "names and ordinals");
    const HMODULE module = addin.Module();
    check.True(
        GetProcAddress(module, MAKEINTRESOURCEA(1)) == GetProcAddress(module, "MainEntryPoint"),
        "ordinal 1 is MainEntryPoint");
    check.True(
        GetProcAddress(module, MAKEINTRESOURCEA(2)) == GetProcAddress(module, "ExtMgrCallback"),
        "ordinal 2 is ExtMgrCallback");
    check.True(GetProcAddress(module, MAKEINTRESOURCEA(3)) == nullptr, "no ordinal 3");
    Unload(check, addin);
}

void LifecycleWithBackslashPathsWritesEveryEvent() {
    Case check("LifecycleWithBackslashPathsWritesEveryEvent");
    winhost::FreshServer();
    // "erp" wants every change to "Order" documents (the form's other name included) and names
    // the database with a backslash; "audit" wants deletes of any document of the database.
    AddTrigger("erp", {"Create", "Update", "Delete"}, {"sales\\orders.qix:Order"});
    AddTrigger("audit", {"Delete"}, {"sales/orders.qix"});
    winhost::AddProfile({{"Form", std::string("SystemConfiguration")},
                         {"LogLevel", std::string("INFO")},
                         {"LogOutputs", qixsim::TextList{"log.qix"}}});

    AddinLibrary addin;
    if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
        return;
    Strings lines;
    check.Equal(Start(check, addin, &lines), 0, "MainEntryPoint status");
    check.Equal(lines, StartupLines(), "start-up lines");
    check.Equal(qixsim::RegistrationCount(), 8u, "registrations after start-up");

    STATUS status = 1;
    const NOTEID a = winhost::CreateDoc(kOrders, "Order", &status);
    check.Equal(status, 0, "create a");
    const NOTEID b = winhost::CreateDoc(kOrders, "Purchase Order");
    const NOTEID c = winhost::CreateDoc(kOrders, "Invoice");  // no such form: only "audit"
    const NOTEID other = winhost::CreateDoc("other.qix", "Order");
    check.Equal(winhost::UpdateDoc("other.qix", other, "not monitored", false), 0, "update other");
    check.Equal(winhost::UpdateDoc(kOrders, a, "Lamp", false), 0, "update a");
    check.Equal(winhost::UpdateDoc(kOrders, a, "Desk lamp", true), 0, "extended update a");
    const std::string ua = winhost::UnidOf(kOrders, a);
    const std::string ub = winhost::UnidOf(kOrders, b);
    const std::string uc = winhost::UnidOf(kOrders, c);
    check.Equal(winhost::DeleteDoc(kOrders, a), 0, "delete a");
    check.Equal(winhost::DeleteDocs(kOrders, {b, c}), 0, "bulk delete b, c");

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
    check.Equal(events.size(), expected.size(), "event count");
    const std::multiset<std::string> got(events.begin(), events.end());
    check.Equal(Strings(got.begin(), got.end()), Strings(expected.begin(), expected.end()),
                "Event documents");
    const Strings ids = winhost::EventIds();
    for (const auto& id : ids)
        check.True(IsEventId(id), ("EventId of 32 upper-case hex digits: " + id).c_str());
    check.Equal(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size(),
                "EventIds distinct");

    // The INFO line of the writer shows the path as the server gave it, with its backslash.
    bool loggedServerPath = false;
    for (const auto& entry : qixsim::LogEntries())
        loggedServerPath |= entry.find("Database Name: sales\\orders.qix, ") != std::string::npos;
    check.True(loggedServerPath, "log.qix holds the writer's line with the backslash path");

    check.Equal(Unload(check, addin), DetachLines(8), "detach lines");
    check.Equal(qixsim::RegistrationCount(), 0u, "registrations after unload");
    // Nothing reaches the unloaded library any more.
    winhost::CreateDoc(kOrders, "Order");
    check.Equal(winhost::Events().size(), expected.size(), "events after unload");
    check.Equal(qixsim::OpenHandleCount(), 0u, "open handles");
}

void DetachWithoutMainEntryPointStopsAtRowZero() {
    Case check("DetachWithoutMainEntryPointStopsAtRowZero");
    winhost::FreshServer();
    AddinLibrary addin;
    if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
        return;
    qixsim::ResetCallCounts();
    check.Equal(Unload(check, addin), DetachLines(0), "detach lines");
    check.Equal(qixsim::CallCount("EMDeregister"), 1u, "EMDeregister calls");
    check.Equal(qixsim::RegistrationCount(), 0u, "registrations");
}

void DeregisterFailureStopsTheWalk() {
    Case check("DeregisterFailureStopsTheWalk");
    winhost::FreshServer();
    AddinLibrary addin;
    if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
        return;
    check.Equal(Start(check, addin), 0, "MainEntryPoint status");
    qixsim::FailNth("EMDeregister", 0x4444, 3);
    check.Equal(Unload(check, addin), DetachLines(2), "detach lines");
    check.Equal(qixsim::RegistrationCount(), 6u, "registrations left behind");
    // The rows left registered point into the unloaded library: drop them before anything else.
    qixsim::Reset();
}

void StartAgainAfterUnloadRegistersAnew() {
    Case check("StartAgainAfterUnloadRegistersAnew");
    winhost::FreshServer();
    AddTrigger("erp", {"Create"}, {"sales\\orders.qix"});
    for (int cycle = 1; cycle <= 2; ++cycle) {
        AddinLibrary addin;
        if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
            return;
        Strings lines;
        check.Equal(Start(check, addin, &lines), 0, "MainEntryPoint status");
        check.Equal(lines, StartupLines(), "start-up lines");
        check.Equal(qixsim::RegistrationCount(), 8u, "registrations after start-up");
        winhost::CreateDoc(kOrders, "Order");
        check.Equal(winhost::Events().size(), static_cast<std::size_t>(cycle), "events");
        // Detach deregisters the handles of this start-up; the first one's are gone already.
        check.Equal(Unload(check, addin), DetachLines(8), "detach lines");
        check.Equal(qixsim::RegistrationCount(), 0u, "registrations after unload");
    }
}

void ConcurrentCreatesFromFourThreads() {
    Case check("ConcurrentCreatesFromFourThreads");
    winhost::FreshServer();
    AddTrigger("erp", {"Create"}, {"sales\\orders.qix"});
    AddinLibrary addin;
    if (!check.True(addin.Loaded(), "LoadLibrary(kovaevents.dll)"))
        return;
    check.Equal(Start(check, addin), 0, "MainEntryPoint status");
    constexpr int kThreads = 4;
    constexpr int kCreates = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kCreates; ++i)
                winhost::CreateDoc(kOrders, "Order");
        });
    }
    for (auto& thread : threads)
        thread.join();
    const Strings events = winhost::Events();
    check.Equal(events.size(), static_cast<std::size_t>(kThreads * kCreates), "events");
    const std::set<std::string> distinct(events.begin(), events.end());
    check.Equal(distinct.size(), events.size(), "one event per note");
    check.Equal(Unload(check, addin), DetachLines(8), "detach lines");
    check.Equal(qixsim::OpenHandleCount(), 0u, "open handles");
}

}  // namespace

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    ExportTableHoldsOnlyTheTwoEntryPoints();
    LifecycleWithBackslashPathsWritesEveryEvent();
    DetachWithoutMainEntryPointStopsAtRowZero();
    DeregisterFailureStopsTheWalk();
    StartAgainAfterUnloadRegistersAnew();
    ConcurrentCreatesFromFourThreads();
    std::printf("%d passed, %d failed\n", Case::sPassed, Case::sFailed);
    return Case::sFailed == 0 ? 0 : 1;
}
