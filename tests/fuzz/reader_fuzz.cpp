// Fuzzes the parameter-file reader: arbitrary bytes as a file, then all 21
// reads of a load, through the detected encoding, the UTF-8 path (forced by
// a byte-order mark) and the GBK path (forced by a byte no UTF-8 text has).

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "params/param_table.h"
#include "platform/tabrel.h"

namespace {

void ReadAll(const quarvel::detail::CTabrel& reader) {
    for (const quarvel::detail::ParamEntry& e : quarvel::detail::ParamTable()) {
        int i = 0;
        float f = 0.0f;
        reader.GetInt(e.section, e.key, i);
        reader.GetFloat(e.section, e.key, f);
        (void)reader.Find(e.section, e.key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const MemoryFile file(bytes);
    if (const auto reader = quarvel::detail::CTabrel::Open(file.path())) {
        ReadAll(*reader);
    }
    ReadAll(quarvel::detail::CTabrel(std::string(quarvel::detail::kUtf8Bom) + bytes));
    ReadAll(quarvel::detail::CTabrel("\xFF\n" + bytes));
    return 0;
}
