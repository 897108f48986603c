// The page-file list of any type and bytes: the letters stay within their 30
// places, are NUL after the last, and all NUL when the read fails.
#include "inventory/BootDrives.h"
#include "tests/fuzz/FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    static const DWORD kTypes[] = {REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD};
    const DWORD type = input.ConsumeIntegralInRange<int>(0, 7) != 0
                           ? input.PickValueInArray(kTypes)
                           : input.ConsumeIntegral<DWORD>();
    const std::vector<BYTE> bytes = input.ConsumeRemainingBytes<BYTE>();

    SimMachine sim;
    sim.SetRegValue(HKEY_LOCAL_MACHINE,
                    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                    L"PagingFiles", SimRegValue{type, bytes});
    WCHAR letters[kMaxPageFileLetters];
    for (WCHAR& letter : letters) letter = L'#';
    const bool read = GetPageFileLetters(sim, letters);

    bool ended = false;
    for (WCHAR letter : letters) {
        if (ended) FUZZ_CHECK(letter == L'\0', "NUL after the last letter");
        if (letter == L'\0') ended = true;
        if (!read) FUZZ_CHECK(letter == L'\0', "a failed read leaves the list empty");
        FUZZ_CHECK(letter < L'a' || letter > L'z', "letters are upper case");
    }
    if (read) FUZZ_CHECK(type == REG_SZ || type == REG_MULTI_SZ, "only text types are read");
    FUZZ_CHECK(sim.LeakReport().empty(), "the key is closed");
    return 0;
}
