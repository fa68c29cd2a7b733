// Runs the steps of a scenario (see runner.h). Each step prints a heading saying what the host
// does, then whatever the add-in prints while it happens, then "->" lines with the outcome, and
// with --explain the "explain:" lines of each note the step changed.
#include "tools/kovahost/runner.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/kovahost/explain.h"
#include "tools/kovahost/host_ops.h"
#include "tools/kovahost/load_step.h"
#include "tools/kovahost/output.h"
#include "tools/kovahost/platform.h"
#include "tools/kovahost/records.h"
#include "tools/kovahost/report.h"
#include "tools/kovahost/server_builder.h"
#include "tools/kovahost/statuses.h"

namespace kovahost {
namespace {

std::string Ordinal(uint32_t n) {
    const uint32_t lastTwo = n % 100;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        switch (n % 10) {
            case 1:
                suffix = "st";
                break;
            case 2:
                suffix = "nd";
                break;
            case 3:
                suffix = "rd";
                break;
            default:
                break;
        }
    }
    return std::to_string(n) + suffix;
}

std::string StoreNotification(const Step& step) {
    return step.extended ? "; an extended store, raises notification 102"
                         : "; raises notification 47";
}

std::string Forced(const Step& step) {
    return step.status != 0 ? "; the host will report " + StatusText(step.status) : "";
}

// The first name in the first form of the database, for the notes a load step creates.
qixsim::Items DefaultLoadItems(const Scenario& plan, const std::string& db) {
    for (const DatabasePlan& database : plan.databases) {
        if (database.path != db || database.forms.empty())
            continue;
        std::string title = database.forms.front();
        title = title.substr(0, title.find(';'));
        const size_t first = title.find_first_not_of(' ');
        const size_t last = title.find_last_not_of(' ');
        if (first != std::string::npos)
            return {{"Form", title.substr(first, last - first + 1)}};
    }
    return {{"Form", std::string("Document")}};
}

class StepRunner {
  public:
    StepRunner(const Scenario& plan, const RunOptions& options, const AddinEntryPoints& addin,
               NoteNames& names, const Output& out)
        : plan_(plan), options_(options), addin_(addin), names_(names), out_(out) {}

    int Run() {
        for (size_t i = 0; i < plan_.steps.size(); ++i)
            RunStep(i + 1, plan_.steps[i]);
        std::string end = "end: " + Count(plan_.steps.size(), "step", "steps") + " run";
        if (expectations_ > 0) {
            end += failed_ == 0
                       ? "; " + Count(expectations_, "expectation", "expectations") + " held"
                       : "; " + std::to_string(failed_) + " of " +
                             Count(expectations_, "expectation", "expectations") + " FAILED";
        }
        out_.Text("");
        out_.Record("== " + end, Json{{"end", Json{{"steps", plan_.steps.size()},
                                                   {"expectations", expectations_},
                                                   {"failed", failed_}}}});
        out_.Flush();
        return failed_ == 0 ? kExitDone : kExitExpectFailed;
    }

  private:
    void RunStep(size_t number, const Step& step) {
        const size_t faultsBefore = qixsim::FaultsInjected().size();
        const bool operation = step.kind == StepKind::kCreate || step.kind == StepKind::kUpdate ||
                               step.kind == StepKind::kDelete || step.kind == StepKind::kDeleteMany;
        // The add-in sees an operation only through the hooks its start registered.
        const bool hooked = qixsim::RegistrationCount() > 0;
        explaining_ = options_.explain && operation && hooked;
        explained_.clear();
        switch (step.kind) {
            case StepKind::kStart:
                Start(number);
                break;
            case StepKind::kCreate:
                Create(number, step);
                break;
            case StepKind::kUpdate:
                Update(number, step);
                break;
            case StepKind::kDelete:
                Delete(number, step);
                break;
            case StepKind::kDeleteMany:
                DeleteMany(number, step);
                break;
            case StepKind::kFail:
                Fail(number, step);
                break;
            case StepKind::kPrint:
                Print(number, step);
                break;
            case StepKind::kExpect:
                out_.Heading(number, "expect: " + DescribeExpectation(step));
                ++expectations_;
                if (!CheckExpectation(out_, step))
                    ++failed_;
                break;
            case StepKind::kLoad:
                Load(number, step);
                break;
            case StepKind::kStop:
                out_.Heading(number,
                             "stop: the host unloads the add-in (the UNIX build runs nothing at "
                             "unload)");
                out_.Result("nothing ran; no note operation follows");
                break;
        }
        ReportFaults(faultsBefore);
        if (options_.explain && operation && !hooked) {
            out_.Record(
                "explain: the add-in has registered no hook (no start step ran): it sees "
                "nothing of this step",
                Json{{"explain", Json{{"skipped", "the add-in has registered no hook"}}}});
        }
        for (const NoteExplanation& explanation : explained_)
            PrintExplanation(out_, explanation);
    }

    // What to call before a note is stored: with --explain, records the filter's verdicts on it.
    BeforeStore ExplainStoreHook() {
        if (!explaining_)
            return nullptr;
        return [this](NOTEHANDLE note) { explained_.push_back(ExplainStore(note)); };
    }

    void ExplainBeforeDelete(DBHANDLE db, NOTEID id) {
        if (explaining_)
            explained_.push_back(ExplainDelete(db, id));
    }

    // Names the injected failures that fired during the step, runs of one operation counted.
    void ReportFaults(size_t before) const {
        const std::vector<std::string> fired = qixsim::FaultsInjected();
        if (fired.size() <= before)
            return;
        std::string text;
        for (size_t i = before; i < fired.size();) {
            size_t run = 1;
            while (i + run < fired.size() && fired[i + run] == fired[i])
                ++run;
            text +=
                (text.empty() ? "" : ", ") + fired[i] + (run > 1 ? " x" + std::to_string(run) : "");
            i += run;
        }
        out_.Result("injected failures that fired: " + text);
    }

    std::string NoteText(const std::string& name) const {
        const NoteRef& note = names_.at(name);
        if (note.id == 0)
            return name + " (never stored, in " + note.db + ")";
        return name + " (note " + NoteIdText(note.id) + " in " + note.db + ")";
    }

    void Start(size_t number) {
        out_.Heading(number,
                     "start: the host loads " + options_.addinPath + " and calls MainEntryPoint",
                     Json{{"addin", options_.addinPath}});
        const STATUS status = addin_.mainEntryPoint();
        out_.Result("MainEntryPoint returned " + StatusValue(status) + "; " +
                    Count(qixsim::RegistrationCount(), "hook", "hooks") + " registered");
    }

    void Create(size_t number, const Step& step) {
        out_.Heading(number, "create " + (step.note.empty() ? "" : step.note + " ") + "in " +
                                 step.db + ": " + ItemsText(step.items) + StoreNotification(step) +
                                 Forced(step));
        HostHandle db;
        NOTEID id = 0;
        STATUS status = OpenDb(step.db, &db);
        if (status == 0)
            status = CreateNote(db.Get(), step.items, step.extended, step.status, &id,
                                ExplainStoreHook());
        if (!step.note.empty())
            names_[step.note] = NoteRef{step.db, status == 0 ? id : 0};
        Outcome(step, status, "stored as note " + NoteIdText(id), "nothing was stored");
    }

    void Update(size_t number, const Step& step) {
        out_.Heading(number, "update " + NoteText(step.note) + ": " + ItemsText(step.items) +
                                 StoreNotification(step) + Forced(step));
        const NoteRef note = names_.at(step.note);
        if (note.id == 0)
            return out_.Result("skipped: " + step.note + " was never stored");
        HostHandle db;
        STATUS status = OpenDb(note.db, &db);
        if (status == 0)
            status = UpdateNote(db.Get(), note.id, step.items, step.extended, step.status,
                                ExplainStoreHook());
        Outcome(step, status, "stored", "the note is unchanged");
    }

    void Delete(size_t number, const Step& step) {
        out_.Heading(number,
                     "delete " + NoteText(step.note) + "; raises notification 8" + Forced(step));
        const NoteRef note = names_.at(step.note);
        if (note.id == 0)
            return out_.Result("skipped: " + step.note + " was never stored");
        HostHandle db;
        STATUS status = OpenDb(note.db, &db);
        if (status == 0) {
            ExplainBeforeDelete(db.Get(), note.id);
            status = qixsim::DeleteNote(db.Get(), note.id, step.status);
        }
        Outcome(step, status, "deleted", "the note is still there");
    }

    void DeleteMany(size_t number, const Step& step) {
        const std::string dbPath = step.db.empty() ? names_.at(step.notes.front()).db : step.db;
        std::string list;
        std::vector<NOTEID> ids;
        for (const std::string& name : step.notes) {
            const NoteRef& note = names_.at(name);
            list += (list.empty() ? "" : ", ") + name +
                    (note.id == 0 ? " (never stored, left out)"
                                  : " (note " + NoteIdText(note.id) + ")");
            if (note.id != 0)
                ids.push_back(note.id);
        }
        out_.Heading(number, "delete-many in " + dbPath + ": " + list +
                                 " in one bulk delete; raises notification 24" + Forced(step));
        if (ids.empty())
            return out_.Result("skipped: none of the notes was ever stored");
        HostHandle db;
        STATUS status = OpenDb(dbPath, &db);
        if (status == 0) {
            for (const NOTEID id : ids)
                ExplainBeforeDelete(db.Get(), id);
            status = qixsim::DeleteNotes(db.Get(), ids, step.status);
        }
        Outcome(step, status, Count(ids.size(), "note", "notes") + " deleted",
                "the notes are still there");
    }

    void Outcome(const Step& step, STATUS status, const std::string& done,
                 const std::string& unchanged) const {
        if (status == 0) {
            out_.Result(done);
        } else if (status == step.status) {
            out_.Result("the host reported " + StatusText(status) + ": " + unchanged);
        } else {
            out_.Result("failed with " + StatusText(status) + ": " + unchanged);
        }
    }

    void Fail(size_t number, const Step& step) {
        std::string what;
        if (step.nth != 0) {
            what = "the " + Ordinal(step.nth) + " call of " + step.call + " from now answers ";
            qixsim::FailNth(step.call, step.status, step.nth);
        } else {
            const std::string calls =
                step.call + (step.note.empty() ? "" : " on " + NoteText(step.note));
            if (step.count == kEveryCall) {
                what = "every call of " + calls + " from now on answers ";
            } else if (step.count == 1) {
                what = "the next call of " + calls + " answers ";
            } else {
                what = "the next " + std::to_string(step.count) + " calls of " + calls + " answer ";
            }
            if (step.note.empty()) {
                qixsim::FailNext(step.call, step.status, step.count);
            } else {
                const NoteRef& note = names_.at(step.note);
                qixsim::FailNoteOpen(note.db, note.id, step.status, step.count);
            }
        }
        out_.Heading(number, "fail: " + what + StatusText(step.status));
    }

    void Print(size_t number, const Step& step) {
        switch (step.print) {
            case PrintWhat::kEvents:
                out_.Heading(number, "print: the event table (Event documents in kovaevents.qix)");
                PrintEvents(out_);
                break;
            case PrintWhat::kLog:
                out_.Heading(number, "print: the entries of the log database log.qix");
                PrintLog(out_);
                break;
            case PrintWhat::kNotes:
                out_.Heading(number,
                             "print: the documents of " +
                                 (step.db.empty() ? std::string("every database") : step.db));
                PrintNotes(out_, step.db, names_);
                break;
        }
    }

    void Load(size_t number, const Step& step) {
        out_.Heading(number, "load: " + std::to_string(step.operations) + " mixed operations on " +
                                 Count(step.threads, "thread", "threads") + " in " + step.db);
        LoadPlan load;
        load.db = step.db;
        load.operations = step.operations;
        load.threads = step.threads;
        load.items = step.items.empty() ? DefaultLoadItems(plan_, step.db) : step.items;
        load.console = step.console;
        const LoadResult r = RunLoad(load);

        const Json record{
            {"load",
             Json{{"db", step.db}, {"operations", step.operations}, {"threads", step.threads}}},
            {"creates", r.creates},
            {"updates", r.updates},
            {"extendedUpdates", r.extendedUpdates},
            {"deletes", r.deletes},
            {"bulkDeletes", r.bulkDeletes},
            {"failed", r.failed},
            {"events", r.events},
            {"consoleLines", r.consoleLines}};
        std::string text =
            "-> " + std::to_string(r.creates) + " creates, " + std::to_string(r.updates) +
            " updates, " + std::to_string(r.extendedUpdates) + " extended updates, " +
            std::to_string(r.deletes) + " deletes, " + std::to_string(r.bulkDeletes) +
            " bulk deletes; " + std::to_string(r.failed) + " failed\n-> " +
            Count(r.events, "Event document", "Event documents") + " written";
        if (!step.console) {
            text += "\n-> the add-in printed " +
                    Count(r.consoleLines, "console line", "console lines") +
                    " meanwhile (not shown; 'console: true' shows them)";
        }
        out_.Record(text, record);

        // The rate differs from run to run: with a fixed clock (a reproducible run) it goes to
        // standard error, so that standard output stays the same.
        char rate[160];
        std::snprintf(rate, sizeof rate, "%.0f operations/s (%u operations in %.3f s)",
                      r.seconds > 0 ? static_cast<double>(step.operations) / r.seconds : 0.0,
                      static_cast<unsigned>(step.operations), r.seconds);
        if (plan_.fixedClock) {
            out_.Note("load at line " + std::to_string(step.line) + ": " + rate);
        } else {
            out_.Result(rate);
        }
    }

    const Scenario& plan_;
    const RunOptions& options_;
    AddinEntryPoints addin_;
    NoteNames& names_;
    const Output& out_;
    size_t expectations_ = 0;
    size_t failed_ = 0;
    bool explaining_ = false;                 // --explain, for the step under way
    std::vector<NoteExplanation> explained_;  // its notes, printed after its own output
};

// "cannot find the add-in; looked for A, B (--addin=PATH names one)".
std::string NoAddinFound(const AddinSearch& search) {
    std::string looked;
    for (const std::string& path : search.looked)
        looked += (looked.empty() ? "" : ", ") + path;
    return "cannot find the add-in; " +
           (looked.empty() ? std::string("the folder of kovahost's own executable cannot be told")
                           : "looked for " + looked) +
           " (--addin=PATH names one)";
}

}  // namespace

int RunScenario(const Scenario& plan, const RunOptions& options) {
    Output out(options.json);
    AddinEntryPoints addin;
    const bool starts = std::any_of(plan.steps.begin(), plan.steps.end(),
                                    [](const Step& s) { return s.kind == StepKind::kStart; });
    // Only a run that starts the add-in looks for one; the path found is the one the start step's
    // heading names.
    RunOptions run = options;
    if (starts && run.addinPath.empty()) {
        const AddinSearch search = FindAddin();
        if (search.found.empty()) {
            out.Note(NoAddinFound(search));
            return kExitBadInput;
        }
        run.addinPath = search.found;
    }
    std::string error;
    if (starts && !LoadAddin(run.addinPath, &addin, &error)) {
        out.Note("cannot load the add-in: " + error);
        return kExitCannotRun;
    }
    BuiltServer built;
    if (!BuildServer(plan, &built, &error)) {
        out.Note(error);
        return kExitCannotRun;
    }
    out.CaptureConsole();
    out.Record("kovahost: scenario " + FileName(plan.file),
               Json{{"scenario", FileName(plan.file)}});
    out.Text(
        "(under each '==' step the add-in's own console lines follow as they happen; '->' lines "
        "are the host's)");
    for (const ServerLine& line : DescribeServer(plan, built))
        out.Record(line.text, line.json);
    return StepRunner(plan, run, addin, built.names, out).Run();
}

}  // namespace kovahost
