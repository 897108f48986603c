// Loads a simulated machine from a JSON machine file. Every member is checked
// for its type and range; a bad file is refused with the file and the field
// named, and never half-loaded.
#include "platform/sim/SimInternal.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

using json = nlohmann::json;

namespace {

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& path, const std::string& message) {
    throw LoadError(path + ": " + message);
}

void CheckObject(const json& j, const std::string& path,
                 std::initializer_list<const char*> allowed) {
    if (!j.is_object()) Fail(path, "expected an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
        bool known = false;
        for (const char* name : allowed) known = known || it.key() == name;
        if (!known) Fail(path.empty() ? it.key() : path + "." + it.key(), "unknown field");
    }
}

std::string Member(const std::string& path, const char* name) {
    return path.empty() ? std::string(name) : path + "." + name;
}

// A whole number in [min, max]: a JSON number, or a string in decimal or "0x" hex.
long long Number(const json& v, const std::string& path, long long min, long long max) {
    long long value = 0;
    if (v.is_number_unsigned()) {
        auto u = v.get<unsigned long long>();
        if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
            Fail(path, "out of range");
        value = static_cast<long long>(u);
    } else if (v.is_number_integer()) {
        value = v.get<long long>();
    } else if (v.is_string()) {
        const std::string& text = v.get_ref<const std::string&>();
        bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string digits = hex ? text.substr(2) : text;
        if (digits.empty() || digits.size() > 16) Fail(path, "expected a number");
        for (char c : digits)
            if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
                      : std::isdigit(static_cast<unsigned char>(c))))
                Fail(path, "expected a number");
        unsigned long long u = std::stoull(digits, nullptr, hex ? 16 : 10);
        if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
            Fail(path, "out of range");
        value = static_cast<long long>(u);
    } else {
        Fail(path, v.is_number_float() ? "expected a whole number" : "expected a number");
    }
    if (value < min || value > max)
        Fail(path, "out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
    return value;
}

DWORD Dword(const json& v, const std::string& path) {
    return static_cast<DWORD>(Number(v, path, 0, 0xFFFFFFFFll));
}

BYTE Byte(const json& v, const std::string& path) {
    return static_cast<BYTE>(Number(v, path, 0, 0xFF));
}

bool Bool(const json& v, const std::string& path) {
    if (!v.is_boolean()) Fail(path, "expected true or false");
    return v.get<bool>();
}

// UTF-8 text as code points; bad sequences and NUL are refused.
std::u32string CodePoints(const json& v, const std::string& path) {
    if (!v.is_string()) Fail(path, "expected a string");
    const std::string& s = v.get_ref<const std::string&>();
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= s.size() + (extra == 0 ? 1 : 0))
            Fail(path, "bad UTF-8");
        char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 2) Fail(path, "bad UTF-8");
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp == 0) Fail(path, "must not contain NUL");
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) Fail(path, "bad UTF-8");
        out += cp;
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::wstring Text(const json& v, const std::string& path, size_t maxChars = 32767) {
    std::wstring out;
    for (char32_t cp : CodePoints(v, path)) {
        if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    if (out.size() > maxChars)
        Fail(path, "longer than " + std::to_string(maxChars) + " characters");
    return out;
}

// A single-byte string of the ANSI page (taken as Latin-1).
std::string Ansi(const json& v, const std::string& path) {
    std::string out;
    for (char32_t cp : CodePoints(v, path)) {
        if (cp > 0xFF) Fail(path, "character outside the ANSI code page");
        out += static_cast<char>(cp);
    }
    if (out.size() > 4096) Fail(path, "longer than 4096 characters");
    return out;
}

std::vector<std::wstring> TextList(const json& v, const std::string& path) {
    if (!v.is_array()) Fail(path, "expected an array of strings");
    std::vector<std::wstring> out;
    for (size_t i = 0; i < v.size(); ++i) {
        std::wstring t = Text(v[i], path + "[" + std::to_string(i) + "]", 4096);
        if (t.empty()) Fail(path + "[" + std::to_string(i) + "]", "must not be empty");
        out.push_back(t);
    }
    return out;
}

const json& Array(const json& v, const std::string& path) {
    if (!v.is_array()) Fail(path, "expected an array");
    return v;
}

std::map<DWORD, DWORD> IoctlErrors(const json& v, const std::string& path) {
    if (!v.is_object()) Fail(path, "expected an object of control code: error");
    std::map<DWORD, DWORD> out;
    for (auto it = v.begin(); it != v.end(); ++it) {
        std::string field = path + "." + it.key();
        DWORD code = Dword(json(it.key()), field);
        DWORD error = Dword(it.value(), field);
        if (error == 0) Fail(field, "an error must not be 0");
        out[code] = error;
    }
    return out;
}

void ReadStorage(const json& j, const std::string& path, SimStorage& st) {
    CheckObject(
        j, path,
        {"deviceType", "deviceTypeModifier", "removableMedia", "busType", "vendor", "product",
         "revision", "serial", "serialOffsetAllOnes", "rawDescriptor", "geometry", "capacity",
         "mediaDeviceType", "media", "tapeCapacity", "deviceNumber", "ioctlErrors", "openError",
         "heldForWriting"});
    auto has = [&](const char* name) { return j.contains(name); };
    auto at = [&](const char* name) -> const json& { return j.at(name); };
    auto p = [&](const char* name) { return Member(path, name); };
    if (has("deviceType")) st.deviceType = Byte(at("deviceType"), p("deviceType"));
    if (has("deviceTypeModifier"))
        st.deviceTypeModifier = Byte(at("deviceTypeModifier"), p("deviceTypeModifier"));
    if (has("removableMedia")) st.removableMedia = Bool(at("removableMedia"), p("removableMedia"));
    if (has("busType"))
        st.busType = static_cast<DWORD>(Number(at("busType"), p("busType"), 0, 0xFF));
    auto ansi = [&](const char* name, std::optional<std::string>& into) {
        if (!has(name)) return;
        if (at(name).is_null())
            into.reset();
        else
            into = Ansi(at(name), p(name));
    };
    ansi("vendor", st.vendor);
    ansi("product", st.product);
    ansi("revision", st.revision);
    ansi("serial", st.serial);
    if (has("serialOffsetAllOnes"))
        st.serialOffsetAllOnes = Bool(at("serialOffsetAllOnes"), p("serialOffsetAllOnes"));
    if (has("rawDescriptor")) {
        const json& raw = Array(at("rawDescriptor"), p("rawDescriptor"));
        if (raw.size() > 65536) Fail(p("rawDescriptor"), "longer than 65536 bytes");
        std::vector<BYTE> bytes;
        for (size_t i = 0; i < raw.size(); ++i)
            bytes.push_back(Byte(raw[i], p("rawDescriptor") + "[" + std::to_string(i) + "]"));
        st.rawDescriptor = bytes;
    }
    if (has("geometry")) {
        const json& g = at("geometry");
        std::string gp = p("geometry");
        CheckObject(
            g, gp,
            {"cylinders", "mediaType", "tracksPerCylinder", "sectorsPerTrack", "bytesPerSector"});
        if (g.contains("cylinders"))
            st.geometry.cylinders = Number(g.at("cylinders"), gp + ".cylinders", 0,
                                           std::numeric_limits<long long>::max());
        if (g.contains("mediaType"))
            st.geometry.mediaType = Dword(g.at("mediaType"), gp + ".mediaType");
        if (g.contains("tracksPerCylinder"))
            st.geometry.tracksPerCylinder =
                Dword(g.at("tracksPerCylinder"), gp + ".tracksPerCylinder");
        if (g.contains("sectorsPerTrack"))
            st.geometry.sectorsPerTrack = Dword(g.at("sectorsPerTrack"), gp + ".sectorsPerTrack");
        if (g.contains("bytesPerSector"))
            st.geometry.bytesPerSector = Dword(g.at("bytesPerSector"), gp + ".bytesPerSector");
    }
    if (has("capacity")) {
        long long bytes =
            Number(at("capacity"), p("capacity"), 0, std::numeric_limits<long long>::max());
        long long cylinder = static_cast<long long>(st.geometry.tracksPerCylinder) *
                             st.geometry.sectorsPerTrack * st.geometry.bytesPerSector;
        if (cylinder == 0) Fail(p("capacity"), "needs a geometry without zero fields");
        st.geometry.cylinders = bytes / cylinder;
    }
    if (has("mediaDeviceType"))
        st.mediaDeviceType = Dword(at("mediaDeviceType"), p("mediaDeviceType"));
    if (has("media")) {
        const json& media = Array(at("media"), p("media"));
        if (media.size() > 64) Fail(p("media"), "more than 64 entries");
        st.media.clear();
        for (size_t i = 0; i < media.size(); ++i) {
            std::string mp = p("media") + "[" + std::to_string(i) + "]";
            CheckObject(media[i], mp, {"mediaType", "characteristics"});
            SimMediaInfo info;
            if (media[i].contains("mediaType"))
                info.mediaType = Dword(media[i].at("mediaType"), mp + ".mediaType");
            if (media[i].contains("characteristics"))
                info.characteristics =
                    Dword(media[i].at("characteristics"), mp + ".characteristics");
            st.media.push_back(info);
        }
    }
    if (has("tapeCapacity"))
        st.tapeCapacity =
            Number(at("tapeCapacity"), p("tapeCapacity"), 0, std::numeric_limits<long long>::max());
    if (has("deviceNumber")) st.deviceNumber = Dword(at("deviceNumber"), p("deviceNumber"));
    if (has("ioctlErrors")) st.ioctlErrors = IoctlErrors(at("ioctlErrors"), p("ioctlErrors"));
    if (has("openError")) st.openError = Dword(at("openError"), p("openError"));
    if (has("heldForWriting")) st.heldForWriting = Bool(at("heldForWriting"), p("heldForWriting"));
}

SimVirtualDisk ReadVirtualDisk(const json& j, const std::string& path) {
    CheckObject(j, path, {"image", "detachError"});
    SimVirtualDisk disk;
    if (!j.contains("image")) Fail(Member(path, "image"), "missing");
    disk.image = Text(j.at("image"), Member(path, "image"), 32767);
    const std::wstring& image = disk.image;
    if (image.size() < 4 || !std::iswalpha(static_cast<wint_t>(image[0])) || image[1] != L':' ||
        image[2] != L'\\')
        Fail(Member(path, "image"), "expected a file path such as D:\\VMs\\build.vhdx");
    if (j.contains("detachError")) {
        disk.detachError = Dword(j.at("detachError"), Member(path, "detachError"));
        if (disk.detachError == 0) Fail(Member(path, "detachError"), "an error must not be 0");
    }
    return disk;
}

// The device; its interface path is left empty when it is to be derived
// ("auto"), which the caller does with the machine's class table.
SimDevice ReadDevice(const json& j, const std::string& path, bool& autoPath) {
    CheckObject(j, path,
                {"instanceId", "class", "present", "pending", "friendlyName", "deviceDesc",
                 "hardwareIds", "compatibleIds", "interfacePath", "interfaceOrder", "removal",
                 "removalError", "setClassInstallParamsError", "storage", "arrivesAfterMs",
                 "virtualDisk"});
    auto p = [&](const char* name) { return Member(path, name); };
    if (!j.contains("instanceId")) Fail(p("instanceId"), "missing");
    std::wstring id = Text(j.at("instanceId"), p("instanceId"), 200);
    if (id.empty()) Fail(p("instanceId"), "must not be empty");
    std::wstring cls = j.contains("class") ? Text(j.at("class"), p("class"), 64) : L"DiskDrive";
    if (cls.empty()) Fail(p("class"), "must not be empty");

    // Storage answers start as a plausible drive of the class.
    SimDevice d;
    if (sim::EqualNoCase(cls, L"CDROM"))
        d = SimMachine::MakeCdrom(id, L"", 0);
    else if (sim::EqualNoCase(cls, L"TapeDrive"))
        d = SimMachine::MakeTape(id, L"", 0);
    else
        d = SimMachine::MakeDisk(id, L"", 0);
    d.setupClass = cls;
    d.friendlyName.reset();
    d.deviceDesc.reset();
    d.hardwareIds.reset();
    d.compatibleIds.reset();
    d.interfacePath.clear();
    autoPath = true;

    if (j.contains("present")) d.present = Bool(j.at("present"), p("present"));
    if (j.contains("pending")) d.pending = Bool(j.at("pending"), p("pending"));
    if (j.contains("friendlyName"))
        d.friendlyName = Text(j.at("friendlyName"), p("friendlyName"), 4096);
    if (j.contains("deviceDesc")) d.deviceDesc = Text(j.at("deviceDesc"), p("deviceDesc"), 4096);
    if (j.contains("hardwareIds")) d.hardwareIds = TextList(j.at("hardwareIds"), p("hardwareIds"));
    if (j.contains("compatibleIds"))
        d.compatibleIds = TextList(j.at("compatibleIds"), p("compatibleIds"));
    if (j.contains("interfacePath")) {
        std::wstring path = Text(j.at("interfacePath"), p("interfacePath"), 1024);
        if (path == L"none") {
            d.interfacePath.clear();
            autoPath = false;
        } else if (path != L"auto") {
            if (path.empty()) Fail(p("interfacePath"), "must not be empty (use \"none\")");
            d.interfacePath = path;
            autoPath = false;
        }
    }
    if (j.contains("interfaceOrder"))
        d.interfaceOrder = static_cast<int>(
            Number(j.at("interfaceOrder"), p("interfaceOrder"), -1000000, 1000000));
    if (j.contains("removal")) {
        const json& r = j.at("removal");
        if (!r.is_string()) Fail(p("removal"), "expected a string");
        const std::string& how = r.get_ref<const std::string&>();
        if (how == "removed")
            d.removal = SimRemovalOutcome::Removed;
        else if (how == "declined")
            d.removal = SimRemovalOutcome::Declined;
        else if (how == "needsRestart")
            d.removal = SimRemovalOutcome::RemovedNeedsRestart;
        else if (how == "needsReboot")
            d.removal = SimRemovalOutcome::RemovedNeedsReboot;
        else
            Fail(p("removal"),
                 "expected \"removed\", \"declined\", \"needsRestart\" or \"needsReboot\"");
    }
    if (j.contains("removalError")) {
        d.removalError = Dword(j.at("removalError"), p("removalError"));
        if (d.removalError == 0) Fail(p("removalError"), "an error must not be 0");
    }
    if (j.contains("setClassInstallParamsError"))
        d.setClassInstallParamsError =
            Dword(j.at("setClassInstallParamsError"), p("setClassInstallParamsError"));
    if (j.contains("storage")) ReadStorage(j.at("storage"), p("storage"), d.storage);
    if (j.contains("arrivesAfterMs")) {
        d.arrivesAfterMs = Dword(j.at("arrivesAfterMs"), p("arrivesAfterMs"));
        if (j.contains("present") && d.present)
            Fail(p("arrivesAfterMs"), "a device that arrives later is not present before");
        d.pending = true;
        d.present = false;
    }
    if (j.contains("virtualDisk")) d.virtualDisk = ReadVirtualDisk(j.at("virtualDisk"), p("virtualDisk"));
    return d;
}

// One drive letter, upper-cased.
wchar_t Letter(const json& v, const std::string& path) {
    std::wstring letter = Text(v, path, 1);
    wchar_t c =
        letter.empty() ? 0 : static_cast<wchar_t>(std::towupper(static_cast<wint_t>(letter[0])));
    if (c < L'A' || c > L'Z') Fail(path, "expected one letter A to Z");
    return c;
}

SimVolume ReadVolume(const json& j, const std::string& path, size_t index) {
    CheckObject(
        j, path,
        {"letter", "driveType", "guidPath", "mountPointError", "extents", "extentsError", "noMedia",
         "device", "filesOpen", "openAccessDenied", "openError", "exclusiveOpenFails", "flushError",
         "ioctlErrors", "present", "pending", "serialNumber", "lockRefusals",
         "bitLockerLocked", "label", "mountFolders", "ntDeviceName"});
    auto p = [&](const char* name) { return Member(path, name); };
    SimVolume v;
    if (j.contains("letter")) v.letter = Letter(j.at("letter"), p("letter"));
    wchar_t guid[80];
    std::swprintf(guid, 80, L"\\\\?\\Volume{5e1d0c%02x-%04x-11d0-b6bf-00a0c91efb8b}\\",
                  static_cast<unsigned>(v.letter & 0xFF), static_cast<unsigned>(index & 0xFFFF));
    v.guidPath = guid;
    if (j.contains("driveType"))
        v.driveType = static_cast<UINT>(Number(j.at("driveType"), p("driveType"), 0, 6));
    if (j.contains("guidPath")) {
        std::wstring g = Text(j.at("guidPath"), p("guidPath"), 200);
        if (g != L"auto") {
            if (g.size() < 5 || g.rfind(L"\\\\?\\", 0) != 0 || g.back() != L'\\')
                Fail(
                    p("guidPath"),
                    "expected \"auto\" or a path \\\\?\\Volume{...}\\ with the trailing backslash");
            v.guidPath = g;
        }
    }
    if (j.contains("mountPointError"))
        v.mountPointError = Dword(j.at("mountPointError"), p("mountPointError"));
    if (j.contains("extents")) {
        const json& ex = Array(j.at("extents"), p("extents"));
        if (ex.size() > 4096) Fail(p("extents"), "more than 4096 entries");
        for (size_t i = 0; i < ex.size(); ++i) {
            std::string ep = p("extents") + "[" + std::to_string(i) + "]";
            CheckObject(ex[i], ep, {"disk", "offset", "length"});
            SimExtent e;
            if (!ex[i].contains("disk")) Fail(ep + ".disk", "missing");
            e.diskNumber = Dword(ex[i].at("disk"), ep + ".disk");
            if (ex[i].contains("offset"))
                e.offset = Number(ex[i].at("offset"), ep + ".offset", 0,
                                  std::numeric_limits<long long>::max());
            if (ex[i].contains("length"))
                e.length = Number(ex[i].at("length"), ep + ".length", 0,
                                  std::numeric_limits<long long>::max());
            v.extents.push_back(e);
        }
    }
    if (j.contains("extentsError")) v.extentsError = Dword(j.at("extentsError"), p("extentsError"));
    if (j.contains("noMedia")) v.noMedia = Bool(j.at("noMedia"), p("noMedia"));
    if (j.contains("device")) v.deviceInstanceId = Text(j.at("device"), p("device"), 200);
    if (j.contains("filesOpen")) v.filesOpen = Bool(j.at("filesOpen"), p("filesOpen"));
    if (j.contains("openAccessDenied"))
        v.openAccessDenied = Bool(j.at("openAccessDenied"), p("openAccessDenied"));
    if (j.contains("openError")) v.openError = Dword(j.at("openError"), p("openError"));
    if (j.contains("exclusiveOpenFails"))
        v.exclusiveOpenFails = Bool(j.at("exclusiveOpenFails"), p("exclusiveOpenFails"));
    if (j.contains("flushError")) v.flushError = Dword(j.at("flushError"), p("flushError"));
    if (j.contains("ioctlErrors"))
        v.ioctlErrors = IoctlErrors(j.at("ioctlErrors"), p("ioctlErrors"));
    if (j.contains("present")) v.present = Bool(j.at("present"), p("present"));
    if (j.contains("pending")) v.pending = Bool(j.at("pending"), p("pending"));
    if (j.contains("serialNumber")) v.serialNumber = Dword(j.at("serialNumber"), p("serialNumber"));
    if (j.contains("lockRefusals")) v.lockRefusals = Dword(j.at("lockRefusals"), p("lockRefusals"));
    if (j.contains("bitLockerLocked"))
        v.bitLockerLocked = Bool(j.at("bitLockerLocked"), p("bitLockerLocked"));
    // A label longer than Windows allows (32 characters on NTFS) is refused.
    if (j.contains("label")) v.label = Text(j.at("label"), p("label"), 32);
    if (j.contains("mountFolders")) {
        v.mountFolders = TextList(j.at("mountFolders"), p("mountFolders"));
        if (v.mountFolders.size() > 64) Fail(p("mountFolders"), "more than 64 entries");
        for (size_t i = 0; i < v.mountFolders.size(); ++i) {
            const std::wstring& f = v.mountFolders[i];
            // A folder on a lettered drive, below its root, ending in a backslash.
            const bool rooted = f.size() > 4 && f[1] == L':' && f[2] == L'\\' &&
                                std::towupper(static_cast<wint_t>(f[0])) >= L'A' &&
                                std::towupper(static_cast<wint_t>(f[0])) <= L'Z';
            if (!rooted || f.back() != L'\\' || f.size() > 259 ||
                f.find(L"\\\\") != std::wstring::npos)
                Fail(p("mountFolders") + "[" + std::to_string(i) + "]",
                     "expected a folder X:\\...\\ with the trailing backslash");
        }
    }
    if (j.contains("ntDeviceName")) {
        v.ntDeviceName = Text(j.at("ntDeviceName"), p("ntDeviceName"), 200);
        if (v.ntDeviceName.rfind(L"\\Device\\", 0) != 0 || v.ntDeviceName.size() < 9)
            Fail(p("ntDeviceName"), "expected a name \\Device\\...");
    }
    return v;
}

SimProcess ReadProcess(const json& j, const std::string& path) {
    CheckObject(j, path,
                {"processId", "imageName", "files", "accessDenied", "services", "protected",
                 "needsDebugPrivilege"});
    auto p = [&](const char* name) { return Member(path, name); };
    SimProcess process;
    if (!j.contains("processId")) Fail(p("processId"), "missing");
    process.processId =
        static_cast<DWORD>(Number(j.at("processId"), p("processId"), 1, 0xFFFFFFFFll));
    if (j.contains("imageName")) process.imageName = Text(j.at("imageName"), p("imageName"), 259);
    if (j.contains("accessDenied"))
        process.accessDenied = Bool(j.at("accessDenied"), p("accessDenied"));
    if (j.contains("protected")) process.protectedProcess = Bool(j.at("protected"), p("protected"));
    if (j.contains("needsDebugPrivilege"))
        process.needsDebugPrivilege = Bool(j.at("needsDebugPrivilege"), p("needsDebugPrivilege"));
    if (j.contains("services")) {
        const json& services = Array(j.at("services"), p("services"));
        for (size_t i = 0; i < services.size(); ++i) {
            const std::string sp = p("services") + "[" + std::to_string(i) + "]";
            process.services.push_back(Text(services[i], sp, 256));
            if (process.services.back().empty()) Fail(sp, "empty");
        }
    }
    if (j.contains("files")) {
        const json& files = Array(j.at("files"), p("files"));
        if (files.size() > 4096) Fail(p("files"), "more than 4096 entries");
        for (size_t i = 0; i < files.size(); ++i) {
            std::string fp = p("files") + "[" + std::to_string(i) + "]";
            CheckObject(files[i], fp, {"letter", "path", "directory", "pipe", "mapped", "stalls"});
            SimOpenFile f;
            if (files[i].contains("pipe")) f.pipe = Bool(files[i].at("pipe"), fp + ".pipe");
            if (files[i].contains("letter"))
                f.letter = Letter(files[i].at("letter"), fp + ".letter");
            else if (!f.pipe)
                Fail(fp + ".letter", "missing (only a pipe has no drive letter)");
            if (files[i].contains("path")) f.path = Text(files[i].at("path"), fp + ".path", 32767);
            if (files[i].contains("directory"))
                f.directory = Bool(files[i].at("directory"), fp + ".directory");
            if (files[i].contains("mapped")) f.mapped = Bool(files[i].at("mapped"), fp + ".mapped");
            if (files[i].contains("stalls")) f.stalls = Bool(files[i].at("stalls"), fp + ".stalls");
            if (f.mapped && (f.pipe || f.directory))
                Fail(fp + ".mapped", "a pipe or folder is not mapped");
            process.files.push_back(std::move(f));
        }
    }
    return process;
}

void ReadRegistry(const json& j, const std::string& path, SimMachine& m) {
    CheckObject(j, path, {"root", "key", "values", "refuseWrites", "openError"});
    auto p = [&](const char* name) { return Member(path, name); };
    if (!j.contains("root")) Fail(p("root"), "missing");
    if (!j.at("root").is_string()) Fail(p("root"), "expected \"HKCU\" or \"HKLM\"");
    const std::string& rootName = j.at("root").get_ref<const std::string&>();
    HKEY root = rootName == "HKCU"   ? HKEY_CURRENT_USER
                : rootName == "HKLM" ? HKEY_LOCAL_MACHINE
                                     : nullptr;
    if (!root) Fail(p("root"), "expected \"HKCU\" or \"HKLM\"");
    if (!j.contains("key")) Fail(p("key"), "missing");
    std::wstring key = Text(j.at("key"), p("key"), 255 * 4);
    if (key.empty()) Fail(p("key"), "must not be empty");
    m.CreateRegKey(root, key);
    if (j.contains("values")) {
        const json& values = Array(j.at("values"), p("values"));
        for (size_t i = 0; i < values.size(); ++i) {
            std::string vp = p("values") + "[" + std::to_string(i) + "]";
            const json& v = values[i];
            CheckObject(v, vp, {"name", "type", "data"});
            std::wstring name = v.contains("name") ? Text(v.at("name"), vp + ".name", 16383) : L"";
            if (!v.contains("type") || !v.at("type").is_string())
                Fail(vp + ".type",
                     "expected \"sz\", \"expand_sz\", \"multi_sz\", \"dword\" or \"binary\"");
            const std::string& type = v.at("type").get_ref<const std::string&>();
            if (!v.contains("data")) Fail(vp + ".data", "missing");
            const json& data = v.at("data");
            if (type == "sz" || type == "expand_sz") {
                m.SetRegString(root, key, name, Text(data, vp + ".data"),
                               type == "sz" ? REG_SZ : REG_EXPAND_SZ);
            } else if (type == "multi_sz") {
                m.SetRegMultiString(root, key, name, TextList(data, vp + ".data"));
            } else if (type == "dword") {
                m.SetRegDword(root, key, name, Dword(data, vp + ".data"));
            } else if (type == "binary") {
                const json& bytes = Array(data, vp + ".data");
                SimRegValue raw{REG_BINARY, {}};
                for (size_t k = 0; k < bytes.size(); ++k)
                    raw.data.push_back(Byte(bytes[k], vp + ".data[" + std::to_string(k) + "]"));
                m.SetRegValue(root, key, name, raw);
            } else {
                Fail(vp + ".type",
                     "expected \"sz\", \"expand_sz\", \"multi_sz\", \"dword\" or \"binary\"");
            }
        }
    }
    if (j.contains("refuseWrites"))
        m.SetRegKeyRefusesWrites(root, key, Bool(j.at("refuseWrites"), p("refuseWrites")));
    if (j.contains("openError"))
        m.SetRegKeyOpenError(root, key, Dword(j.at("openError"), p("openError")));
}

void ReadMachine(const json& j, SimMachine& m) {
    CheckObject(j, "",
                {"devices", "volumes", "classes", "registry", "environment", "windows", "mutexes",
                 "edition", "locateResult", "reenumerateResult", "htmlHelpFails",
                 "removableVolumesWithoutExtents", "messageBoxAnswers", "comment", "processes",
                 "ownProcessId", "handleTable", "ownSessionId", "virtualDiskServiceMissing"});
    // Classes first: the devices' interface classes depend on them.
    if (j.contains("classes")) {
        const json& classes = j.at("classes");
        if (!classes.is_object()) Fail("classes", "expected an object of class name: [GUID]");
        for (auto it = classes.begin(); it != classes.end(); ++it) {
            std::string cp = "classes." + it.key();
            const json& list = Array(it.value(), cp);
            std::vector<GUID> guids;
            for (size_t i = 0; i < list.size(); ++i) {
                std::string gp = cp + "[" + std::to_string(i) + "]";
                auto g = sim::ParseGuid(Text(list[i], gp, 38));
                if (!g) Fail(gp, "expected a GUID {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}");
                guids.push_back(*g);
            }
            m.SetClassGuids(Text(json(it.key()), cp, 64), guids);
        }
    }
    if (j.contains("devices")) {
        const json& devices = Array(j.at("devices"), "devices");
        // Kept here: asking the machine for each new identifier would check
        // its index against every device added before.
        std::unordered_set<std::wstring> instanceIds;
        for (size_t i = 0; i < devices.size(); ++i) {
            std::string dp = "devices[" + std::to_string(i) + "]";
            bool autoPath = false;
            SimDevice d = ReadDevice(devices[i], dp, autoPath);
            if (!instanceIds.insert(sim::Upper(d.instanceId)).second)
                Fail(dp + ".instanceId", "used by an earlier device");
            if (autoPath)
                d.interfacePath = SimMachine::InterfacePathFor(
                    d.instanceId, SimMachine::State::InterfaceClassOf(m, d));
            m.AddDevice(std::move(d));
        }
    }
    if (j.contains("volumes")) {
        const json& volumes = Array(j.at("volumes"), "volumes");
        std::unordered_set<std::wstring> folders;
        for (size_t i = 0; i < volumes.size(); ++i) {
            std::string vp = "volumes[" + std::to_string(i) + "]";
            SimVolume v = ReadVolume(volumes[i], vp, i);
            if (v.letter && v.present && !v.pending && m.FindVolume(v.letter))
                Fail(vp + ".letter", "used by an earlier volume");
            for (size_t f = 0; f < v.mountFolders.size(); ++f)
                if (!folders.insert(sim::Upper(v.mountFolders[f])).second)
                    Fail(vp + ".mountFolders[" + std::to_string(f) + "]",
                         "used by an earlier volume");
            m.AddVolume(std::move(v));
        }
    }
    if (j.contains("registry")) {
        const json& keys = Array(j.at("registry"), "registry");
        for (size_t i = 0; i < keys.size(); ++i)
            ReadRegistry(keys[i], "registry[" + std::to_string(i) + "]", m);
    }
    if (j.contains("environment")) {
        const json& env = j.at("environment");
        if (!env.is_object()) Fail("environment", "expected an object of name: value");
        for (auto it = env.begin(); it != env.end(); ++it) {
            std::string ep = "environment." + it.key();
            std::wstring name = Text(json(it.key()), ep, 255);
            if (name.empty() || name.find(L'=') != std::wstring::npos)
                Fail(ep, "bad variable name");
            m.SetEnvironmentVariable(name, Text(it.value(), ep));
        }
    }
    if (j.contains("windows")) {
        const json& windows = Array(j.at("windows"), "windows");
        for (size_t i = 0; i < windows.size(); ++i) {
            std::string wp = "windows[" + std::to_string(i) + "]";
            CheckObject(windows[i], wp, {"className", "title", "iconic", "visible", "sessionId"});
            SimWindow w;
            if (windows[i].contains("className"))
                w.className = Text(windows[i].at("className"), wp + ".className", 256);
            if (windows[i].contains("title"))
                w.title = Text(windows[i].at("title"), wp + ".title", 1024);
            if (windows[i].contains("iconic"))
                w.iconic = Bool(windows[i].at("iconic"), wp + ".iconic");
            if (windows[i].contains("visible"))
                w.visible = Bool(windows[i].at("visible"), wp + ".visible");
            if (windows[i].contains("sessionId"))
                w.sessionId = Dword(windows[i].at("sessionId"), wp + ".sessionId");
            m.AddWindow(w);
        }
    }
    if (j.contains("mutexes")) {
        for (const auto& name : TextList(j.at("mutexes"), "mutexes")) m.AddExistingMutex(name);
    }
    if (j.contains("edition")) {
        const json& e = j.at("edition");
        std::string text = e.is_string() ? e.get<std::string>() : std::string();
        if (text == "32")
            m.edition = SimEdition::Bits32;
        else if (text == "64")
            m.edition = SimEdition::Bits64;
        else if (text == "missing")
            m.edition = SimEdition::FunctionMissing;
        else if (text == "fails")
            m.edition = SimEdition::QueryFails;
        else
            Fail("edition", "expected \"32\", \"64\", \"missing\" or \"fails\"");
    }
    if (j.contains("ownSessionId")) m.ownSessionId = Dword(j.at("ownSessionId"), "ownSessionId");
    if (j.contains("ownProcessId"))
        m.ownProcessId =
            static_cast<DWORD>(Number(j.at("ownProcessId"), "ownProcessId", 1, 0xFFFFFFFFll));
    if (j.contains("processes")) {
        const json& processes = Array(j.at("processes"), "processes");
        for (size_t i = 0; i < processes.size(); ++i) {
            std::string pp = "processes[" + std::to_string(i) + "]";
            SimProcess process = ReadProcess(processes[i], pp);
            if (process.processId == m.ownProcessId || m.FindProcess(process.processId))
                Fail(pp + ".processId", "used by an earlier process or by this program");
            m.AddProcess(std::move(process));
        }
    }
    if (j.contains("handleTable")) {
        const json& t = j.at("handleTable");
        std::string text = t.is_string() ? t.get<std::string>() : std::string();
        if (text == "extended")
            m.handleTable = SimHandleTable::Extended;
        else if (text == "basic")
            m.handleTable = SimHandleTable::Basic;
        else if (text == "growing")
            m.handleTable = SimHandleTable::Growing;
        else if (text == "missing")
            m.handleTable = SimHandleTable::Missing;
        else
            Fail("handleTable", "expected \"extended\", \"basic\", \"growing\" or \"missing\"");
    }
    if (j.contains("locateResult")) m.locateResult = Dword(j.at("locateResult"), "locateResult");
    if (j.contains("reenumerateResult"))
        m.reenumerateResult = Dword(j.at("reenumerateResult"), "reenumerateResult");
    if (j.contains("htmlHelpFails")) m.htmlHelpFails = Bool(j.at("htmlHelpFails"), "htmlHelpFails");
    if (j.contains("removableVolumesWithoutExtents"))
        m.removableVolumesWithoutExtents =
            Bool(j.at("removableVolumesWithoutExtents"), "removableVolumesWithoutExtents");
    if (j.contains("virtualDiskServiceMissing"))
        m.virtualDiskServiceMissing =
            Bool(j.at("virtualDiskServiceMissing"), "virtualDiskServiceMissing");
    if (j.contains("messageBoxAnswers")) {
        const json& answers = Array(j.at("messageBoxAnswers"), "messageBoxAnswers");
        for (size_t i = 0; i < answers.size(); ++i)
            m.messageBoxAnswers.push_back(static_cast<int>(
                Number(answers[i], "messageBoxAnswers[" + std::to_string(i) + "]", 1, 11)));
    }
    if (j.contains("comment") && !j.at("comment").is_string()) Fail("comment", "expected a string");
}

}  // namespace

bool LoadSimMachineFromJson(SimMachine& machine, const std::string& jsonText,
                            const std::string& fileName, std::string& error) {
    try {
        json j;
        try {
            j = json::parse(jsonText);
        } catch (const json::parse_error& e) {
            error = fileName + ": not valid JSON: " + e.what();
            return false;
        }
        if (!j.is_object()) {
            error = fileName + ": expected an object at the top";
            return false;
        }
        SimMachine fresh;
        // Whether calls are logged is the caller's choice, not the file's.
        fresh.recordCalls = machine.recordCalls;
        ReadMachine(j, fresh);
        machine = std::move(fresh);
        return true;
    } catch (const LoadError& e) {
        error = fileName + ": " + e.what();
    } catch (const std::exception& e) {
        error = fileName + ": " + e.what();
    } catch (...) {
        error = fileName + ": unreadable machine file";
    }
    return false;
}

bool LoadSimMachineFromFile(SimMachine& machine, const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    return LoadSimMachineFromJson(machine, text.str(), name, error);
}
