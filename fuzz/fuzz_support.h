// Shared pieces of the fuzz targets: a byte reader that turns fuzzer input into choices and
// strings, the stand-in server set-up, the add-in's start and unload, and the checked calls of the
// exported handler. Aborts (a finding) when the add-in breaks the return rule or leaves a handle.
#ifndef KOVA_FUZZ_FUZZ_SUPPORT_H
#define KOVA_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace kovafuzz {

// Reads choices from the input; past its end every read answers 0 or the empty string.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t Byte();
    uint16_t Word();
    // One of n choices (n > 0).
    size_t Pick(size_t n) { return Byte() % n; }
    // A string: a token that matters to the add-in, a raw run of bytes, or a long repetition.
    std::string Text();

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Standard output goes to /dev/null (the add-in's console lines would only slow the fuzzer).
void QuietConsole();

// A fresh server: "kovaevents.qix", "shop/items.qix" with the form "Item; Article", "other.qix",
// the records and log settings as at load (level DEBUG kept by the deprecated record, so that
// every log line is formatted), and the add-in unloaded.
void FreshServer();
// MainEntryPoint, aborting on a result other than 0 or a masked status.
void StartAddin();
// CleanUp and the deregistration walk; aborts when parked notes or handles are left over.
void UnloadAddin(size_t handlesBefore);

// Calls the handler directly with a notification record built from `arguments` (passed as
// unsigned int, as the server passes handles and note ids); aborts if the answer breaks the
// return rule.
STATUS Notify(uint16_t notificationId, uint16_t stage, uint16_t status,
              const std::vector<unsigned>& arguments);

// Host-side note operations, aborting when the handler vetoed (changed) an operation.
void CheckNoVeto(STATUS status, STATUS forced);

}  // namespace kovafuzz

#endif  // KOVA_FUZZ_FUZZ_SUPPORT_H
