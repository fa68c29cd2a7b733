// The end-to-end test host (see addin_host.h).
#include "tests/e2e/addin_host.h"

#include <dlfcn.h>

#include <sstream>
#include <stdexcept>

namespace e2e {

const Addin& LoadAddin() {
    static const Addin addin = [] {
        Addin a;
        void* library = dlopen(KOVA_ADDIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            throw std::runtime_error(dlerror());
        a.mainEntryPoint = reinterpret_cast<MainEntryPointFn>(dlsym(library, "MainEntryPoint"));
        a.handler = reinterpret_cast<HandlerFn>(dlsym(library, "ExtMgrCallback"));
        if (a.mainEntryPoint == nullptr || a.handler == nullptr) {
            throw std::runtime_error("entry points not exported");
        }
        return a;
    }();
    return addin;
}

void FreshServer(char separator) {
    kovasupport::BuildStandIn(kovasupport::ShopStandIn(separator));
}

std::vector<Event> Events() {
    std::vector<Event> events;
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        events.push_back({ItemOf(note, "EventType"), ItemOf(note, "DBPath"),
                          ItemOf(note, "FormName"), ItemOf(note, "UNID"),
                          ItemOf(note, "PickFields"), ItemOf(note, "ConnectorId")});
    }
    return events;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace e2e
