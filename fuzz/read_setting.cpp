// ReadSetting over values of any type and length, and the toggle built on it:
// a read succeeds exactly for a value of at most 4 bytes in an existing key,
// gives those bytes zero-extended, and leaves the caller's variable alone
// otherwise; the toggle writes the opposite only after a good read.
#include <vector>
#include "fuzz_support.h"

inline bool operator==(const FakeValue& a, const FakeValue& b) { return a.type == b.type && a.data == b.data; }

static const char* const kNames[] = {kShowTrayIcon, kInterceptAllRestarts, kLastCommand, kLastForceSetting};

static std::string PickName(FuzzedDataProvider& input)
{
    size_t pick = input.ConsumeIntegralInRange<size_t>(0, 4);
    // A C string: the name ends at its first NUL, so it holds none.
    return pick < 4 ? kNames[pick] : PathText(input.ConsumeRandomLengthString(40));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ResetSystem();
    ResetProgram();
    sys.keyExists = input.ConsumeBool();
    for (int count = input.ConsumeIntegralInRange(0, 4); count > 0; --count) {
        std::string name = PickName(input);
        DWORD type = input.ConsumeIntegral<DWORD>();
        size_t length = input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(0, 8)
                                            : input.ConsumeIntegralInRange<size_t>(0, 4096);
        std::vector<BYTE> bytes = input.ConsumeBytes<BYTE>(length);
        SetRaw(name.c_str(), type, bytes);
    }
    std::string name = PickName(input);
    const DWORD sentinel = input.ConsumeIntegral<DWORD>();

    DWORD expected = 0;
    bool good = StoredValue(name, &expected);
    DWORD out = sentinel;
    int result = ReadSetting(name.c_str(), &out);
    CHECK(result == 0 || result == 1, "ReadSetting returned %d", result);
    CHECK(result == (good ? 1 : 0), "ReadSetting returned %d for a value that %s be read", result,
          good ? "can" : "cannot");
    if (good)
        CHECK(out == expected, "read 0x%X, stored 0x%X", out, expected);
    else
        CHECK(out == sentinel, "a failed read changed the variable from 0x%X to 0x%X", sentinel, out);
    CHECK(sys.calls.empty(), "a read recorded %s", sys.calls.empty() ? "" : sys.calls[0].c_str());

    // The toggle: read, then write the opposite as a 4-byte REG_DWORD.
    sys.failSetValue = input.ConsumeBool();
    sys.failCloseKey = input.ConsumeBool();
    const std::map<std::string, FakeValue> before = sys.values;
    DWORD newValue = sentinel;
    int toggled = ToggleSetting(name.c_str(), &newValue);
    std::vector<std::string> writes = Calls({"RegSetValueExA"});
    if (!good) {
        CHECK(toggled == 0 && writes.empty(), "a toggle wrote after a failed read");
        CHECK(sys.values == before, "a toggle changed the registry after a failed read");
    } else {
        DWORD opposite = expected ? 0 : 1;
        CHECK(newValue == opposite, "toggle of 0x%X gave %u", expected, newValue);
        std::string write = "RegSetValueExA(\"" + name + "\", 4, 4, " + std::to_string(opposite) + ")";
        CHECK(writes.size() == 1 && writes[0] == write, "toggle wrote %s", writes.empty() ? "nothing" : writes[0].c_str());
        CHECK(toggled == (!sys.failSetValue && !sys.failCloseKey), "toggle returned %d", toggled);
        std::map<std::string, FakeValue> after = before;
        if (!sys.failSetValue)
            after[name] = {REG_DWORD, {(BYTE)opposite, 0, 0, 0}};
        CHECK(sys.values == after, "toggle left the registry in another state than the one write");
    }
    CHECK(sys.openKeys == 0 && sys.handles.empty(), "a registry key was left open");
    return 0;
}
