// A machine file of any text: the loader either builds a machine or names the
// fault, and the inventory built over whatever it built stays sound.
#include "tests/fuzz/FuzzSupport.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SimMachine sim;
    std::string error;
    if (!LoadSimMachineFromJson(sim, text, "fuzz.json", error)) {
        FUZZ_CHECK(!error.empty(), "a refused file is explained");
        FUZZ_CHECK(sim.Devices().empty() && sim.Volumes().empty(),
                   "a refused file leaves the machine as it was");
        return 0;
    }
    // Windows of other processes or a held mutex do not matter to the build.
    sim.messageBoxAnswers.clear();
    fuzz::BuildAndFill(sim);
    return 0;
}
