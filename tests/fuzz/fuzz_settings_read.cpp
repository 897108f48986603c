// An option value of any type, size and bytes, read into a buffer of any
// capacity: the read stays inside the buffer and delivers a terminated text
// or an empty one.
#include "settings/SettingsStore.h"
#include "tests/fuzz/FuzzSupport.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Mostly the text types the read accepts; now and then any type at all.
    static const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY,
                                   REG_NONE};
    const DWORD type = input.ConsumeBool() ? input.PickValueInArray(kTypes)
                                           : input.ConsumeIntegral<DWORD>();
    const DWORD capacity = input.ConsumeIntegralInRange<DWORD>(0, kSettingTextChars + 64);
    const bool nullBuffer = input.ConsumeIntegralInRange<int>(0, 15) == 0;
    const std::wstring variable = fuzz::WideText(input, input.ConsumeIntegralInRange(0, 40));
    const std::vector<BYTE> bytes = input.ConsumeRemainingBytes<BYTE>();

    SimMachine sim;
    // Text for %VAR% expansions, any length.
    sim.SetEnvironmentVariable(L"FUZZ", variable);
    sim.SetRegValue(HKEY_CURRENT_USER, L"Software\\Quenwell\\Trayhop32\\1.3", L"Value",
                    SimRegValue{type, bytes});

    // Exactly the capacity asked for, so a write past it is caught.
    std::unique_ptr<wchar_t[]> buffer;
    if (!nullBuffer && capacity > 0) buffer = std::make_unique<wchar_t[]>(capacity);
    if (buffer)
        for (DWORD i = 0; i < capacity; ++i) buffer[i] = L'#';
    const bool read = ReadSettingString(sim, HKEY_CURRENT_USER, L"Value", buffer.get(), capacity);

    if (buffer) {
        bool terminated = false;
        for (DWORD i = 0; i < capacity && !terminated; ++i) terminated = buffer[i] == L'\0';
        FUZZ_CHECK(terminated, "the buffer holds a terminated text");
        if (!read) FUZZ_CHECK(buffer[0] == L'\0', "a failed read leaves an empty text");
    }
    if (read) {
        FUZZ_CHECK(buffer != nullptr, "no text is delivered without a buffer");
        FUZZ_CHECK(type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ,
                   "only text types are read");
        FUZZ_CHECK(bytes.size() < sizeof(WCHAR) * capacity, "only texts that fit pass");
    }
    FUZZ_CHECK(sim.LeakReport().empty(), "the key is closed");
    return 0;
}
