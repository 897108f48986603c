// Any pattern against any identifier. The matcher must agree with a plain
// backtracking wildcard match, and the pattern the Remove command builds for
// a device must select exactly that device's identifier.
#include "platform/Text.h"
#include "removal/DeviceRemoval.h"
#include "removal/RemoveCommand.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool SameChar(WCHAR a, WCHAR b) { return FoldCase(a) == FoldCase(b); }

// "*" is any run of characters; everything else one character, case ignored.
bool ReferenceMatch(const WCHAR* p, const WCHAR* s) {
    const WCHAR* star = nullptr;
    const WCHAR* resume = nullptr;
    while (*s != L'\0') {
        if (*p == L'*') {
            star = p++;
            resume = s;
        } else if (*p != L'\0' && SameChar(*p, *s)) {
            ++p;
            ++s;
        } else if (star != nullptr) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*p == L'*') ++p;
    return *p == L'\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::wstring patternText = fuzz::WideText(input, input.ConsumeIntegralInRange(0, 64));
    const std::wstring id = fuzz::WideText(input, 256);

    const DevicePattern pattern = ParseDevicePattern(patternText.c_str());
    const bool matched = MatchDevicePattern(pattern, id.c_str());
    if (pattern.wildcard != nullptr)
        FUZZ_CHECK(matched == ReferenceMatch(pattern.text, id.c_str()),
                   "wildcard match agrees with the reference");
    else
        FUZZ_CHECK(matched == (CompareTextNoCase(pattern.text, id.c_str()) == 0),
                   "a plain pattern is the identifier itself");

    // The Remove command's pattern for the device with this identifier.
    const std::wstring own = RemovalPatternFor(id.c_str());
    const DevicePattern removal = ParseDevicePattern(own.c_str());
    FUZZ_CHECK(removal.isInstanceId, "a device is named by its instance identifier");
    FUZZ_CHECK(removal.wildcard == nullptr, "a device's own pattern has no wildcard");
    FUZZ_CHECK(MatchDevicePattern(removal, id.c_str()), "its own pattern selects the device");
    FUZZ_CHECK(CompareTextNoCase(removal.text, id.c_str()) == 0,
               "its own pattern selects no other identifier");
    return 0;
}
