// The machine files the project keeps in tests/machines, found from the test
// sources through __FILE__ (their file names stay absolute).
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path MachinesFolder() {
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "machines";
}

inline std::string MachineFile(const char* name) { return (MachinesFolder() / name).string(); }
