// Started under Wine before any Windows test runs: if this prints its line,
// the loader, the prefix and the C runtime all work for this architecture.
#include <cstdio>

int main() {
    std::printf("wine probe ok: %d-bit\n", static_cast<int>(sizeof(void*) * 8));
    return 0;
}
